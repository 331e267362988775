#include "platform/wayland/LayerShellDragSource.h"

#include "model/Log.h"
#include "model/settings/KeyTable.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/DragStrip.h"
#include "platform/wayland/FramedHide.h"
#include "platform/wayland/LayerShell.h"
#include "platform/x11/DragSelectionWatcher.h"
#include "platform/x11/X11DragSource.h"

#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace qv {

namespace {

// The keys the watcher reports during a drag, as the X11 back end does.
bool isReportedKey(int key)
{
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: return true;
    default: return false;
    }
}

DragOffer offerOf(const QMimeData* data)
{
    DragOffer offer;
    if (!data)
        return offer;
    offer.types = data->formats();
    if (data->hasFormat(QStringLiteral("text/uri-list")))
        offer.uris = parseUriList(data->data(QStringLiteral("text/uri-list")));
    if (data->hasFormat(QStringLiteral("text/x-moz-url")))
        offer.mozUrl = data->data(QStringLiteral("text/x-moz-url"));
    return offer;
}

} // namespace

LayerShellDragSource::LayerShellDragSource(SettingsStore& settings, QObject* parent)
    : DragEventSource(parent)
    , m_settings(settings)
{
    m_dwell.setSingleShot(true);
    connect(&m_dwell, &QTimer::timeout, this, &LayerShellDragSource::restElapsed);
    m_gone.setSingleShot(true);
    m_gone.setInterval(goneAfterMs);
    connect(&m_gone, &QTimer::timeout, this, &LayerShellDragSource::endDrag);
}

LayerShellDragSource::~LayerShellDragSource()
{
    if (m_started)
        qApp->removeEventFilter(this);
    for (DragStrip* strip : m_strips)
        delete strip;
}

bool LayerShellDragSource::start(QString* whyNot)
{
    // Through XWayland (GNOME without our Shell extension) the strips are X11 windows that
    // stay out of the window manager's way; Mutter's bridge hands native drags to them.
    const bool overXWayland = QGuiApplication::platformName() == QLatin1String("xcb");
    if (!overXWayland && !LayerShell::isAvailable()) {
        *whyNot = QStringLiteral("the compositor offers no layer surfaces");
        return false;
    }
    LayerShell::install();
    m_started = true;
    qApp->installEventFilter(this);
    connect(&m_settings, &SettingsStore::changed, this, [this](const QString& key) {
        if (key == SettingsKey::dragStripEdge)
            placeStrips();
    });
    connect(qApp, &QGuiApplication::screenAdded, this, &LayerShellDragSource::placeStrips);
    connect(qApp, &QGuiApplication::screenRemoved, this, [this](QScreen* gone) {
        std::erase_if(m_strips, [gone](DragStrip* strip) {
            if (strip->screen() != gone)
                return false;
            strip->deleteLater();
            return true;
        });
    });
    // KWin's bridge to XWayland takes the X11 drag selection as each drag begins: till then
    // the strips leave clicks to the windows beneath them (a scroll bar at the edge).
    if (!overXWayland && LayerShell::keysReachDragTarget() && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        auto* drags = new DragSelectionWatcher(this);
        if (drags->watch()) {
            m_dragBeginsTold = true;
            m_stripsTakePointer = false;
            connect(drags, &DragSelectionWatcher::dragBegan, this, [this] { setStripsTakePointer(true); });
            // Without XWayland no drag is told: the strips take the pointer for good.
            connect(drags, &DragSelectionWatcher::lost, this, [this] {
                m_dragBeginsTold = false;
                setStripsTakePointer(true);
            });
            qCInfo(dragLog, "The strips take the pointer only while a drag is on");
        } else {
            delete drags;
        }
    }
    if (overXWayland) {
        auto* takes = new DragSelectionWatcher(this);
        if (takes->watch()) {
            m_takes = takes;
            connect(takes, &DragSelectionWatcher::dragBegan, this, [this] {
                ++m_takeCount;
                qCDebug(dragLog, "The drag selection was taken");
            });
        } else {
            delete takes;
        }
    }
    placeStrips();
    return true;
}

void LayerShellDragSource::setStripsTakePointer(bool take)
{
    take = take || !m_dragBeginsTold;
    if (take == m_stripsTakePointer)
        return;
    m_stripsTakePointer = take;
    qCDebug(dragLog, take ? "A drag began: the strips take the pointer" : "The strips let the pointer through");
    for (DragStrip* strip : m_strips)
        strip->setTakesPointer(take);
}

void LayerShellDragSource::setCatchersShown(bool shown)
{
    if (shown == m_stripsWanted)
        return;
    m_stripsWanted = shown;
    if (m_started)
        placeStrips();
}

void LayerShellDragSource::placeStrips()
{
    for (DragStrip* strip : m_strips) {
        QPointer<DragStrip> gone(strip);
        FramedHide::run(strip, [gone] { delete gone.data(); });
    }
    m_strips.clear();
    if (!m_stripsWanted) {
        reserveScreenEdge(std::nullopt, 0);
        return;
    }
    const std::optional<Qt::Edge> edge
        = DragStrip::edgeNamed(m_settings.stringValue(SettingsKey::dragStripEdge).value_or(QString()));
    // The wheel opens beside the strip, never over it: a drag that ends there would be lost.
    reserveScreenEdge(edge, DragStrip::thickness);
    if (!edge) {
        qCInfo(dragLog, "No drag strip: the wheel opens only for files handed to the application");
        return;
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        auto* strip = new DragStrip(screen);
        strip->setTakesPointer(m_stripsTakePointer);
        strip->showAlong(*edge);
        m_strips.push_back(strip);
    }
}

bool LayerShellDragSource::isStrip(const QObject* object) const
{
    return std::find(m_strips.begin(), m_strips.end(), object) != m_strips.end();
}

bool LayerShellDragSource::eventFilter(QObject* watched, QEvent* event)
{
    if (!watched->isWindowType())
        return false;
    auto* window = static_cast<QWindow*>(watched);
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseButtonPress:
        // The pointer itself, not a drag, reached a strip: no drag is on.
        if (isStrip(window) && !m_inDrag)
            setStripsTakePointer(false);
        break;
    case QEvent::DragEnter: {
        auto* enter = static_cast<QDragEnterEvent*>(event);
        m_pointer = window->mapToGlobal(enter->position().toPoint());
        notePointerSeen(m_pointer);
        ++m_windowsUnderDrag;
        m_gone.stop();
        if (m_inDrag && !isStrip(window))
            m_reachedBeyondStrip = true;
        if (isStrip(window)) {
            if (m_inDrag && takenSinceArrival()) {
                qCDebug(dragLog, "Another drag reached the strip: the last one is over");
                const int under = m_windowsUnderDrag;
                endDrag();
                m_windowsUnderDrag = under;
            }
            // Modifier taps reach the strip only while the drag is over it (KWin).
            static_cast<DragStrip*>(window)->setTakesKeys(true);
            dragArrived(enter->mimeData());
            // A strip takes nothing: a drop on it must leave the files where they are.
            enter->ignore();
            return true;
        }
        break;
    }
    case QEvent::DragMove: {
        auto* move = static_cast<QDragMoveEvent*>(event);
        m_pointer = window->mapToGlobal(move->position().toPoint());
        notePointerSeen(m_pointer);
        if (isStrip(window)) {
            move->ignore();
            return true;
        }
        break;
    }
    case QEvent::DragLeave:
        if (isStrip(window)) {
            m_dwell.stop();
            static_cast<DragStrip*>(window)->setTakesKeys(false);
        }
        dragLeft();
        break;
    case QEvent::Drop:
        if (m_inDrag) {
            m_windowsUnderDrag = 0;
            m_dwell.stop();
            // After the window took the drop.
            QTimer::singleShot(0, this, &LayerShellDragSource::endDrag);
        }
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (m_inDrag)
            keyEvent(static_cast<QKeyEvent*>(event), event->type() == QEvent::KeyPress);
        break;
    default:
        break;
    }
    return false;
}

void LayerShellDragSource::dragArrived(const QMimeData* data)
{
    if (!m_inDrag)
        m_rests = 0;
    m_restedThisVisit = false;
    const double dwellSeconds = m_settings.doubleValue(SettingsKey::dragStripDwell);
    if (dwellSeconds > 0 && std::isfinite(dwellSeconds)) {
        const int dwellMs = int(std::lround(std::min(dwellSeconds, 10.0) * 1000));
        // Back for the next wheel: a rest long enough to be meant.
        m_dwell.start(m_rests == 0 ? dwellMs : std::max(nextRestMs, dwellMs));
    }
    if (m_inDrag)
        return; // back on the strip during the same drag
    m_inDrag = true;
    m_reachedBeyondStrip = false;
    if (m_takes) {
        m_takes->catchUp();
        m_takesAtArrival = m_takeCount;
    }
    m_offer = offerOf(data);
    m_modifiers = 0;
    m_heldModifierKeys.clear();
    qCDebug(dragLog, "A drag reached the strip at %d,%d", m_pointer.x(), m_pointer.y());
    Q_EMIT primaryButtonPressed();
    Q_EMIT dragSelectionChanged();
}

void LayerShellDragSource::restElapsed()
{
    if (!m_inDrag)
        return;
    if (m_restedThisVisit) {
        // Still resting where a wheel opened: the user may be reading it.
        qCDebug(dragLog, "Rest held %lld ms: the wheel stays until the drag leaves the strip and rests again",
                qlonglong(m_restHeld.elapsed()));
        m_dwell.start(nextRestMs);
        return;
    }
    m_restedThisVisit = true;
    ++m_rests;
    m_restHeld.start();
    m_dwell.start(nextRestMs);
    Q_EMIT dwellElapsed();
}

void LayerShellDragSource::readDragOffer()
{
    QTimer::singleShot(0, this, [this, offer = m_offer] { Q_EMIT dragOfferRead(offer); });
}

bool LayerShellDragSource::takenSinceArrival()
{
    if (!m_takes)
        return false;
    m_takes->catchUp();
    return m_takeCount != m_takesAtArrival;
}

void LayerShellDragSource::dragLeft()
{
    m_windowsUnderDrag = std::max(0, m_windowsUnderDrag - 1);
    if (m_inDrag && m_windowsUnderDrag == 0)
        m_gone.start(m_takes && !m_reachedBeyondStrip ? toTheWheelThroughXWaylandMs : goneAfterMs);
}

void LayerShellDragSource::endDrag()
{
    for (DragStrip* strip : m_strips)
        strip->setTakesKeys(false);
    setStripsTakePointer(false);
    m_gone.stop();
    m_dwell.stop();
    m_windowsUnderDrag = 0;
    if (!m_inDrag)
        return;
    m_inDrag = false;
    m_modifiers = 0;
    m_heldModifierKeys.clear();
    Q_EMIT primaryButtonReleased();
}

void LayerShellDragSource::keyEvent(const QKeyEvent* event, bool pressed)
{
    if (const std::optional<quint32> modifier = modifierFlagOfKey(event->key())) {
        if (pressed && !event->isAutoRepeat())
            m_heldModifierKeys.insert(event->key(), *modifier);
        else if (!pressed && !event->isAutoRepeat())
            m_heldModifierKeys.remove(event->key());
        quint32 flags = 0;
        for (quint32 flag : std::as_const(m_heldModifierKeys))
            flags |= flag;
        if (flags != m_modifiers) {
            m_modifiers = flags;
            Q_EMIT modifiersChanged(flags);
        }
        return;
    }
    if (!pressed || event->isAutoRepeat() || !isReportedKey(event->key()))
        return;
    const int key = event->key() == Qt::Key_Backtab ? int(Qt::Key_Tab) : event->key();
    if (const std::optional<quint32> code
        = keyCodeForQtKey(key, event->modifiers().testFlag(Qt::KeypadModifier)))
        Q_EMIT keyPressed(int(*code));
}

} // namespace qv
