#pragma once

#include "model/files/FileInfo.h"
#include "model/SharedEnums.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>

namespace qv {

class Clock;
class DragEventSource;
struct DragOffer;
class SettingsStore;

// Notices a drag of files anywhere on the desktop and, while the primary button stays down,
// taps of the wheels' trigger modifiers. The wheel controller listens to its signals.
class DragWatcher : public QObject {
    Q_OBJECT

public:
    struct Trigger {
        quint32 flag = 0; // a ModifierFlag bit
        WheelKind wheel = WheelKind::convert;

        bool operator==(const Trigger&) const = default;
    };

    // The process-wide watcher on the session's back end.
    static DragWatcher& shared();

    // Takes ownership of the source; a null source gives a watcher that never sees a drag.
    explicit DragWatcher(std::unique_ptr<DragEventSource> source, SettingsStore& settings,
                         const Clock& clock, QObject* parent = nullptr);
    ~DragWatcher() override;

    // Starts the back end once; a second call does nothing. Without a usable back end (a
    // compositor that offers no way to see drags) it logs why and the application runs on without drag triggers.
    void start();
    bool isStarted() const { return m_started; }
    bool isAvailable() const { return m_available; }

    // Starts watching a drag of these files; also used by the onboarding practice area.
    void beginFileDrag(const QList<QUrl>& urls, const QList<FileInfo>& promisedFiles);
    // A drag begun by beginFileDrag is the application's own: where the desktop hands its keys
    // and its position to the application's windows rather than to the back end, those windows
    // tell them here. Both do nothing once the drag is over or another took its place.
    bool isOwnDrag() const { return m_fileDragActive && m_ownDrag; }
    void ownDragModifiersChanged(quint32 modifiers);
    // The own drag rested where it is for the dwell time: as a rest on the back end's strip.
    void ownDragRested();
    // Ends the watch; a file drag that was active ends with dragEnded.
    void stopWatching();

    bool isChecking() const { return m_checking; }
    bool isFileDragActive() const { return m_fileDragActive; }
    // The triggers of the current drag, in the order convert, tools, actions.
    QList<Trigger> triggers() const { return m_triggers; }

    // After the wheel appeared under the pointer, so that the drag sees it as the target.
    void nudgePointer();
    // The source's locatePointer and watchClickWheel; false, or nothing, without a source.
    bool locatePointer();
    void watchClickWheel(const QRect& frame);

    // The trigger table from the settings: wheels set to "off", or to a name that is no
    // modifier, have none; a modifier named twice goes to the first wheel.
    static QList<Trigger> readTriggers(const SettingsStore& settings);
    // The wheel a further rest moves on to from this one; nothing with a single wheel.
    static std::optional<WheelKind> wheelAfterRest(const QList<Trigger>& triggers, WheelKind shown);

    // A press counts as a drag of files only when the drag starts this soon after it.
    static constexpr qint64 checkWindowMs = 4000;
    // A trigger pressed this soon after another opened a wheel counts as pressed with it:
    // the wheel that comes first in the wheels' order is the one shown.
    static constexpr int tapWindowMs = 16;
    // After Escape, how often and how long the source is asked whether it gave its drag up.
    static constexpr int cancelCheckMs = 20;
    static constexpr int cancelCheckWindowMs = 1500;

Q_SIGNALS:
    // promisedFiles is empty when there are URLs.
    void dragBegan(const QList<QUrl>& urls, const QList<qv::FileInfo>& promisedFiles);
    // byRest: a rest on the source's strip asked for it, no key.
    void wheelRequested(qv::WheelKind kind, bool byRest);
    // Once per file drag, when the primary button comes up (or a new press begins).
    void dragEnded();
    // Only during a file drag and while "quorvenda.keyboardWhileDragging" is on.
    void keyPressedWhileDragging(int keyCode);
    // Relayed from the source.
    void pointerLocated(QPoint position);
    void clickWheelDismissed();
    void clickWheelKeyPressed(int key);

private:
    void buttonPressed();
    void buttonReleased();
    void selectionChanged();
    void offerRead(const DragOffer& offer);
    void modifiersChanged(quint32 modifiers);
    // Requests the wheel of the first trigger in `wentDown`, unless one earlier in the order
    // opened within the tap window.
    void requestForTaps(quint32 wentDown);
    void startFileDrag(const QList<QUrl>& urls, const QList<FileInfo>& promisedFiles, quint32 tappedEarly);
    void keyPressed(int keyCode);
    void checkCancelled();
    // A rest on the source's strip opens the first wheel that has a trigger, and each further
    // rest the next one, until a tap chooses.
    void dwellElapsed();

    std::unique_ptr<DragEventSource> m_source;
    SettingsStore& m_settings;
    const Clock& m_clock;

    bool m_started = false;
    bool m_available = false;
    bool m_checking = false;
    bool m_awaitingUris = false;
    bool m_fileDragActive = false;
    QDateTime m_mouseDownTime;
    quint32 m_lastFlags = 0; // as last reported, ModifierFlag bits
    // Keys that went down while the drag's offer was being read.
    quint32 m_wentDownEarly = 0;
    // The place in m_triggers of the wheel requested last, and since when: the tap window is
    // measured, not a timer's, whose end a busy event loop may hear after the next key.
    qsizetype m_requestedInWindow = -1;
    QElapsedTimer m_tapWindow;
    QTimer m_cancelCheck;
    int m_cancelChecksLeft = 0;
    QList<Trigger> m_triggers;
    int m_rests = 0;
    bool m_tapChose = false;
    bool m_ownDrag = false;
};

} // namespace qv
