#include "wheel/DragWatcher.h"

#include "model/Clock.h"
#include "model/Log.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "platform/drags/DesktopDragSource.h"
#include "platform/drags/DragEventSource.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/settings/SettingsStore.h"

#include <utility>

namespace qv {

DragWatcher& DragWatcher::shared()
{
    static DragWatcher* watcher = new DragWatcher(makeDesktopDragSource(), SettingsStore::shared(),
                                                  Clock::system());
    return *watcher;
}

DragWatcher::DragWatcher(std::unique_ptr<DragEventSource> source, SettingsStore& settings,
                         const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_source(std::move(source))
    , m_settings(settings)
    , m_clock(clock)
{
    m_cancelCheck.setInterval(cancelCheckMs);
    connect(&m_cancelCheck, &QTimer::timeout, this, &DragWatcher::checkCancelled);
    if (!m_source)
        return;
    DragEventSource* s = m_source.get();
    connect(s, &DragEventSource::primaryButtonPressed, this, &DragWatcher::buttonPressed);
    connect(s, &DragEventSource::primaryButtonReleased, this, &DragWatcher::buttonReleased);
    connect(s, &DragEventSource::dragSelectionChanged, this, &DragWatcher::selectionChanged);
    connect(s, &DragEventSource::dragOfferRead, this, &DragWatcher::offerRead);
    connect(s, &DragEventSource::modifiersChanged, this, &DragWatcher::modifiersChanged);
    connect(s, &DragEventSource::keyPressed, this, &DragWatcher::keyPressed);
    connect(s, &DragEventSource::dwellElapsed, this, &DragWatcher::dwellElapsed);
    connect(s, &DragEventSource::pointerLocated, this, &DragWatcher::pointerLocated);
    connect(s, &DragEventSource::clickWheelDismissed, this, &DragWatcher::clickWheelDismissed);
    connect(s, &DragEventSource::clickWheelKeyPressed, this, &DragWatcher::clickWheelKeyPressed);
}

DragWatcher::~DragWatcher() = default;

void DragWatcher::start()
{
    if (m_started)
        return;
    m_started = true;
    QString whyNot = QStringLiteral("no drag back end");
    if (!m_source || !m_source->start(&whyNot)) {
        qCWarning(dragLog, "Drag watcher unavailable: %s", qUtf8Printable(whyNot));
        return;
    }
    m_available = true;
    qCInfo(dragLog, "Drag watcher started");
}

QList<DragWatcher::Trigger> DragWatcher::readTriggers(const SettingsStore& settings)
{
    QList<Trigger> triggers;
    for (WheelKind wheel : allCases<WheelKind>()) {
        const std::optional<quint32> flag = modifierFlag(triggerModifier(wheel, settings));
        if (flag)
            triggers.append({*flag, wheel});
    }
    return triggers;
}

std::optional<WheelKind> DragWatcher::wheelAfterRest(const QList<Trigger>& triggers, WheelKind shown)
{
    if (triggers.size() < 2)
        return std::nullopt;
    for (qsizetype i = 0; i < triggers.size(); ++i) {
        if (triggers[i].wheel == shown)
            return triggers[(i + 1) % triggers.size()].wheel;
    }
    return std::nullopt;
}

void DragWatcher::buttonPressed()
{
    stopWatching();
    m_checking = false;
    if (m_settings.boolValue(SettingsKey::paused))
        return;
    m_mouseDownTime = m_clock.now();
    m_checking = true;
}

void DragWatcher::buttonReleased()
{
    m_checking = false;
    stopWatching();
}

void DragWatcher::selectionChanged()
{
    if (!m_checking || m_fileDragActive)
        return;
    // Each press is inspected at most once.
    m_checking = false;
    if (m_mouseDownTime.msecsTo(m_clock.now()) > checkWindowMs)
        return;
    m_awaitingUris = true;
    // A modifier already held when the drag is noticed is not a tap; one pressed while its
    // files are read is.
    m_lastFlags = m_source->currentModifiers() & ModifierFlag::mask;
    m_wentDownEarly = 0;
    m_source->readDragOffer();
}

void DragWatcher::offerRead(const DragOffer& offer)
{
    // An offer read after the button came up belongs to a drag that is over.
    if (!m_awaitingUris)
        return;
    m_awaitingUris = false;
    const quint32 tappedEarly = std::exchange(m_wentDownEarly, 0);
    qCDebug(dragLog, "Drag offers %s", qUtf8Printable(offer.types.join(QLatin1String(", "))));
    const QList<QUrl> files = offer.localFiles();
    if (!files.isEmpty()) {
        startFileDrag(files, {}, tappedEarly);
        return;
    }
    // Data a browser or a mail client hands over instead of a file.
    if (const std::optional<DragOffer::SavableData> data = offer.savableData()) {
        qCDebug(dragLog, "Drag of data: \"%s\" as %s", qUtf8Printable(data->name),
                qUtf8Printable(data->mimeType));
        startFileDrag({}, {promisedFileInfo(data->name, data->mimeType)}, tappedEarly);
        return;
    }
    qCDebug(dragLog, "Drag without files ignored");
}

void DragWatcher::beginFileDrag(const QList<QUrl>& urls, const QList<FileInfo>& promisedFiles)
{
    // Before the drag is told: a tap right after is heard.
    if (m_available)
        m_source->ownDragBeginning();
    startFileDrag(urls, promisedFiles, 0);
    m_ownDrag = true;
}

void DragWatcher::ownDragModifiersChanged(quint32 modifiers)
{
    if (isOwnDrag())
        modifiersChanged(modifiers);
}

void DragWatcher::ownDragRested()
{
    if (isOwnDrag())
        dwellElapsed();
}

void DragWatcher::startFileDrag(const QList<QUrl>& urls, const QList<FileInfo>& promisedFiles,
                                quint32 tappedEarly)
{
    m_fileDragActive = true;
    m_triggers = readTriggers(m_settings);
    // A modifier already held when the drag is noticed is not a tap.
    m_lastFlags = m_source ? (m_source->currentModifiers() & ModifierFlag::mask) : 0;
    m_tapWindow.invalidate();
    m_requestedInWindow = -1;
    m_rests = 0;
    m_tapChose = false;
    m_ownDrag = false;
    qCDebug(dragLog, "File drag: %lld URLs, %lld promises", qlonglong(urls.size()),
            qlonglong(promisedFiles.size()));
    Q_EMIT dragBegan(urls, urls.isEmpty() ? promisedFiles : QList<FileInfo>());
    // A tap made while the files were being read opens its wheel as soon as they are known.
    if (tappedEarly && m_fileDragActive)
        requestForTaps(tappedEarly);
}

void DragWatcher::modifiersChanged(quint32 modifiers)
{
    modifiers &= ModifierFlag::mask;
    const quint32 wentDown = modifiers & ~m_lastFlags;
    if (m_awaitingUris) {
        m_wentDownEarly |= wentDown;
        m_lastFlags = modifiers;
        return;
    }
    if (!m_fileDragActive)
        return;
    m_lastFlags = modifiers;
    // The wheel opens on the press itself, so the tap costs no wait; releasing opens nothing.
    if (wentDown)
        requestForTaps(wentDown);
}

void DragWatcher::requestForTaps(quint32 wentDown)
{
    for (qsizetype i = 0; i < m_triggers.size(); ++i) {
        const Trigger& trigger = m_triggers.at(i);
        if (!(wentDown & trigger.flag))
            continue;
        // Two keys pressed together follow the wheels' order: a later wheel pressed just after
        // an earlier one does not replace it.
        if (m_tapWindow.isValid() && m_tapWindow.elapsed() <= tapWindowMs && m_requestedInWindow >= 0
            && m_requestedInWindow <= i)
            return;
        m_requestedInWindow = i;
        m_tapWindow.start();
        qCDebug(dragLog, "Modifier tap → %s", qUtf8Printable(toString(trigger.wheel)));
        m_tapChose = true;
        Q_EMIT wheelRequested(trigger.wheel, false);
        return;
    }
}

void DragWatcher::dwellElapsed()
{
    // A user who tapped for a wheel is reading it: a rest must not change it under them.
    if (!m_fileDragActive || m_triggers.isEmpty() || m_tapChose)
        return;
    const WheelKind wheel = m_triggers[m_rests % m_triggers.size()].wheel;
    ++m_rests;
    qCDebug(dragLog, "Dwell → %s", qUtf8Printable(toString(wheel)));
    Q_EMIT wheelRequested(wheel, true);
}

void DragWatcher::keyPressed(int keyCode)
{
    constexpr int escape = 53;
    if (m_fileDragActive && keyCode == escape && m_source) {
        // Sources give their drag up on Escape with the button still down: the drag ends then,
        // not when the button comes up. The source reads the key in its own time.
        m_cancelChecksLeft = cancelCheckWindowMs / cancelCheckMs;
        m_cancelCheck.start();
    }
    if (m_fileDragActive && m_settings.boolValue(SettingsKey::keyboardWhileDragging))
        Q_EMIT keyPressedWhileDragging(keyCode);
}

void DragWatcher::checkCancelled()
{
    if (!m_fileDragActive || --m_cancelChecksLeft < 0) {
        m_cancelCheck.stop();
        return;
    }
    if (m_source->isDragHeld())
        return;
    qCDebug(dragLog, "The drag source gave its drag up");
    m_checking = false;
    stopWatching();
}

void DragWatcher::stopWatching()
{
    m_awaitingUris = false;
    m_tapWindow.invalidate();
    m_requestedInWindow = -1;
    m_cancelCheck.stop();
    m_wentDownEarly = 0;
    if (!m_fileDragActive)
        return;
    m_fileDragActive = false;
    Q_EMIT dragEnded();
}

void DragWatcher::nudgePointer()
{
    if (m_available)
        m_source->nudgePointer();
}

bool DragWatcher::locatePointer()
{
    return m_available && m_source->locatePointer();
}

void DragWatcher::watchClickWheel(const QRect& frame)
{
    if (m_available)
        m_source->watchClickWheel(frame);
}

} // namespace qv
