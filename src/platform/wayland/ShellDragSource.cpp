#include "platform/wayland/ShellDragSource.h"

#include "model/Log.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/wayland/ShellDragBus.h"

#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QHash>

#include <algorithm>

namespace qv {

const QString ShellDragSource::objectPath = QStringLiteral("/org/quorvenda/Quorvenda/ShellDrag");

namespace {

// More than any real drag carries; the rest is dropped.
constexpr qsizetype kMaxUris = 100000;

} // namespace

ShellDragSource::ShellDragSource(const QDBusConnection& bus,
                                 std::unique_ptr<DragEventSource> fallback, QObject* parent)
    : DragEventSource(parent)
    , m_bus(bus)
    , m_fallback(std::move(fallback))
    , m_adaptor(new ShellDragBus(this))
{
    connect(this, &ShellDragSource::nudgeRequested, m_adaptor, &ShellDragBus::NudgePointer);
    connect(this, &ShellDragSource::modifierWatchRequested, m_adaptor, &ShellDragBus::WatchModifiers);
    connect(this, &ShellDragSource::pointerLocationRequested, m_adaptor, &ShellDragBus::LocatePointer);
    connect(this, &ShellDragSource::clickWheelWatchRequested, m_adaptor, &ShellDragBus::WatchClickWheel);
    // XWayland knows the pointer only over X11 windows: the wheel opens where the Shell saw it.
    connect(this, &ShellDragSource::pointerMoved, this, [](QPoint position) { notePointerSeen(position); });
    if (!m_fallback)
        return;
    DragEventSource* f = m_fallback.get();
    // The fallback speaks for the drags the extension does not report (Mutter keeps drags
    // between X11 programs to XWayland), and falls silent while the extension reports one.
    const auto relay = [this](auto signal) {
        return [this, signal](auto... args) {
            if (fallbackHeard())
                (this->*signal)(args...);
        };
    };
    connect(f, &DragEventSource::primaryButtonPressed, this, [this] {
        if (!fallbackHeard())
            return;
        m_fallbackPressed = true;
        if (isExtensionAttached())
            Q_EMIT modifierWatchRequested(true);
        Q_EMIT primaryButtonPressed();
    });
    connect(f, &DragEventSource::primaryButtonReleased, this, [this] {
        if (m_fallbackPressed && isExtensionAttached())
            Q_EMIT modifierWatchRequested(false);
        m_fallbackPressed = false;
        if (fallbackHeard())
            Q_EMIT primaryButtonReleased();
    });
    connect(f, &DragEventSource::dragSelectionChanged, this, relay(&DragEventSource::dragSelectionChanged));
    connect(f, &DragEventSource::dragOfferRead, this, relay(&DragEventSource::dragOfferRead));
    connect(f, &DragEventSource::modifiersChanged, this, relay(&DragEventSource::modifiersChanged));
    connect(f, &DragEventSource::keyPressed, this, relay(&DragEventSource::keyPressed));
    connect(f, &DragEventSource::dwellElapsed, this, relay(&DragEventSource::dwellElapsed));
}

bool ShellDragSource::isPrimaryButtonDown()
{
    return fallbackHeard() ? m_fallback->isPrimaryButtonDown() : m_dragging;
}

quint32 ShellDragSource::currentModifiers()
{
    return fallbackHeard() ? m_fallback->currentModifiers() : m_modifiers;
}

QPoint ShellDragSource::pointerPosition()
{
    return fallbackHeard() ? m_fallback->pointerPosition() : m_position;
}

ShellDragSource::~ShellDragSource()
{
    if (m_registered)
        m_bus.unregisterObject(objectPath);
}

quint32 ShellDragSource::modifierFlags(uint busModifiers)
{
    quint32 flags = 0;
    if (busModifiers & shift)
        flags |= ModifierFlag::shift;
    if (busModifiers & control)
        flags |= ModifierFlag::control;
    if (busModifiers & alt)
        flags |= ModifierFlag::option;
    if (busModifiers & super)
        flags |= ModifierFlag::command;
    return flags;
}

bool ShellDragSource::start(QString* whyNot)
{
    if (m_registered)
        return true;
    if (!m_bus.isConnected()) {
        *whyNot = QStringLiteral("no session bus for GNOME Shell's extension to reach us on");
        return false;
    }
    if (!m_bus.registerObject(objectPath, this, QDBusConnection::ExportAdaptors)) {
        *whyNot = QStringLiteral("cannot put %1 on the session bus: %2")
                      .arg(objectPath, m_bus.lastError().message());
        return false;
    }
    m_registered = true;
    QString fallbackWhyNot;
    if (m_fallback && !m_fallback->start(&fallbackWhyNot))
        qCWarning(dragLog, "No X11 drags either: %s", qUtf8Printable(fallbackWhyNot));
    m_watcher = new QDBusServiceWatcher(this);
    m_watcher->setConnection(m_bus);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& name) {
        if (name != m_extension)
            return;
        qCWarning(dragLog, "GNOME Shell's extension left the bus");
        setExtension({});
    });
    qCInfo(dragLog, "Waiting for the GNOME Shell extension (gnome-extensions enable quorvenda@quorvenda.org)");
    return true;
}

void ShellDragSource::setExtension(const QString& busName)
{
    if (!m_extension.isEmpty())
        m_watcher->removeWatchedService(m_extension);
    const bool was = isExtensionAttached();
    m_extension = busName;
    if (!busName.isEmpty())
        m_watcher->addWatchedService(busName);
    if (was != isExtensionAttached()) {
        // The extension reports every native drag: a strip of ours would only be in the way.
        if (m_fallback)
            m_fallback->setCatchersShown(!isExtensionAttached());
        Q_EMIT extensionAttachedChanged(isExtensionAttached());
    }
    // A drag the extension can no longer end must not stay open.
    if (busName.isEmpty() && m_dragging) {
        m_dragging = false;
        Q_EMIT primaryButtonReleased();
    }
}

void ShellDragSource::attach(const QString& caller)
{
    if (caller.isEmpty() || caller == m_extension)
        return;
    qCInfo(dragLog, "GNOME Shell's extension reports drags");
    setExtension(caller);
}

void ShellDragSource::detach(const QString& caller)
{
    if (caller != m_extension)
        return;
    qCInfo(dragLog, "GNOME Shell's extension was turned off");
    setExtension({});
}

void ShellDragSource::dragBegan(const QStringList& types, const QStringList& uris, QPoint position,
                                uint modifiers)
{
    if (m_dragging) {
        m_dragging = false;
        Q_EMIT primaryButtonReleased();
    }
    m_offer = {};
    m_offer.types = types;
    for (const QString& text : uris.first(std::min(uris.size(), kMaxUris))) {
        const QUrl url = QUrl::fromEncoded(text.toUtf8());
        if (url.isValid() && !url.scheme().isEmpty())
            m_offer.uris.append(url);
    }
    m_dragging = true;
    m_position = position;
    m_modifiers = modifierFlags(modifiers);
    qCDebug(dragLog, "GNOME Shell: a drag of %lld URIs began at %d,%d", qlonglong(m_offer.uris.size()),
            position.x(), position.y());
    Q_EMIT pointerMoved(m_position);
    // The same script as a drag seen on X11: a press, then the drag selection taken.
    Q_EMIT primaryButtonPressed();
    Q_EMIT dragSelectionChanged();
}

void ShellDragSource::readDragOffer()
{
    if (fallbackHeard())
        m_fallback->readDragOffer();
    else
        Q_EMIT dragOfferRead(m_offer);
}

void ShellDragSource::dragMoved(QPoint position, uint modifiers)
{
    if (!m_dragging)
        return;
    if (position != m_position) {
        m_position = position;
        Q_EMIT pointerMoved(position);
    }
    const quint32 flags = modifierFlags(modifiers);
    if (flags != m_modifiers) {
        qCDebug(dragLog, "GNOME Shell: modifiers %u during the drag", modifiers);
        m_modifiers = flags;
        Q_EMIT modifiersChanged(flags);
    }
}

void ShellDragSource::dragEnded(QPoint position)
{
    if (!m_dragging)
        return;
    m_position = position;
    Q_EMIT pointerMoved(m_position);
    m_dragging = false;
    Q_EMIT primaryButtonReleased();
}

void ShellDragSource::modifiersReported(uint modifiers)
{
    if (!fallbackHeard() || !m_fallbackPressed)
        return;
    Q_EMIT modifiersChanged(modifierFlags(modifiers));
}

void ShellDragSource::ownDragBeginning()
{
    if (m_fallback)
        m_fallback->ownDragBeginning();
}

void ShellDragSource::nudgePointer()
{
    if (fallbackHeard())
        m_fallback->nudgePointer();
    else if (isExtensionAttached())
        Q_EMIT nudgeRequested();
}

bool ShellDragSource::locatePointer()
{
    if (!isExtensionAttached())
        return false;
    qCDebug(dragLog, "Asking GNOME Shell where the pointer is");
    Q_EMIT pointerLocationRequested();
    return true;
}

void ShellDragSource::pointerReported(QPoint position)
{
    qCDebug(dragLog, "GNOME Shell has the pointer at %d,%d", position.x(), position.y());
    notePointerSeen(position);
    Q_EMIT pointerLocated(position);
}

void ShellDragSource::watchClickWheel(const QRect& frame)
{
    if (!isExtensionAttached() && frame.isValid())
        return;
    m_watchingClickWheel = frame.isValid();
    Q_EMIT clickWheelWatchRequested(frame.x(), frame.y(), std::max(frame.width(), 0),
                                    std::max(frame.height(), 0));
}

void ShellDragSource::clickWheelKeyReported(const QString& name, const QString& caller)
{
    if (caller != m_extension || !m_watchingClickWheel)
        return;
    static const QHash<QString, int> keys{
        {QStringLiteral("Return"), Qt::Key_Return}, {QStringLiteral("KP_Enter"), Qt::Key_Enter},
        {QStringLiteral("Up"), Qt::Key_Up},         {QStringLiteral("Down"), Qt::Key_Down},
        {QStringLiteral("Left"), Qt::Key_Left},     {QStringLiteral("Right"), Qt::Key_Right},
        {QStringLiteral("Tab"), Qt::Key_Tab},       {QStringLiteral("ISO_Left_Tab"), Qt::Key_Backtab},
        {QStringLiteral("Shift_L"), Qt::Key_Shift}, {QStringLiteral("Control_L"), Qt::Key_Control},
        {QStringLiteral("Alt_L"), Qt::Key_Alt},     {QStringLiteral("Super_L"), Qt::Key_Meta},
    };
    if (const auto key = keys.constFind(name); key != keys.cend())
        Q_EMIT clickWheelKeyPressed(*key);
}

void ShellDragSource::clickWheelDismissedReported(const QString& caller)
{
    if (caller != m_extension || !m_watchingClickWheel)
        return;
    m_watchingClickWheel = false;
    Q_EMIT clickWheelDismissed();
}

} // namespace qv
