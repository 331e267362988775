#pragma once

#include "jobs/FilePromise.h"
#include "model/files/FileInfo.h"
#include "model/SharedEnums.h"
#include "model/wheel/WheelSegmentModel.h"
#include "wheel/ui/WheelTimeline.h"
#include "wheel/WheelDrop.h"
#include "wheel/WheelSession.h"

#include <QImage>
#include <QObject>
#include <QPointF>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

class QVariantAnimation;

namespace qv {

class Clock;
class DragWatcher;
class ScreenProvider;
class SettingsStore;
class PointerCatcher;
class WheelPanel;
class WheelView;

// Owns the wheel window from the first sign of a file drag (or a request to open files) until
// the wheel goes away: keeps the session, opens and places the wheel under the pointer, and
// hands the chosen entry with the files to the dispatcher. Main thread only.
class WheelController : public QObject {
    Q_OBJECT
public:
    enum class Mode { drag, click };

    using Promises = QList<std::shared_ptr<FilePromise>>;

    // Everything the controller asks of the rest of the program; tests give their own.
    struct Services {
        std::function<void(const WheelEntry&, const QList<FileInfo>&, const Promises&,
                           bool optionHeld, QPointF point)>
            dispatch;
        const ScreenProvider* screens = nullptr;
        const Clock* clock = nullptr;
        SettingsStore* settings = nullptr;
        // Empty: the operation registry.
        WheelSession::ContentSource contentSource;
        // Runs the work off the main thread.
        std::function<void(std::function<void()>)> runInBackground;
        // Runs work that can wait (reading the files in full) off the main thread, once the
        // wheel is up. Empty: runInBackground.
        std::function<void(std::function<void()>)> runLater;
        std::function<FileInfo(const QUrl&)> inspect;
        // Before many files are inspected one by one: lets their contents be read together.
        // Empty: each is read alone.
        std::function<void(const QList<QUrl>&)> lookAhead;
        // The first look, enough to choose the wheel: what a file's name tells, or nothing when
        // it tells too little for inspect to be skipped. Empty: files are only inspected.
        std::function<std::optional<FileInfo>(const QUrl&)> describeByName;
        // The first look as one file of each kind (SelectionSummary::fromNames), taken before
        // describeByName: the wheel opens without a FileInfo for every file.
        std::function<SelectionSummary(const QList<QUrl>&)> summarize;
        // The same on the main thread, for a drag, when every name tells its kind; nothing
        // when one does not (then summarize runs in the background).
        std::function<std::optional<SelectionSummary>(const QList<QUrl>&)> summarizeByNames;
        std::function<void()> refreshExternalApps;
        // After a drag-mode wheel appeared, so that the drag sees it under the pointer.
        std::function<void()> nudgePointer;
        // Asks the desktop where the pointer is where the display server may not know it:
        // true when pointerLocated (attach) will answer.
        std::function<bool()> locatePointer;
        // Has the desktop report Escape and a press outside a click-mode wheel's frame (Qt's
        // pixels) where the wheel cannot see them (clickWheelDismissed); an empty frame ends it.
        std::function<void(const QRect&)> watchClickWheel;
        // The first file's icon for the centre, at once.
        std::function<std::optional<QImage>(const FileInfo&, int side)> fileIcon;
        // A picture of the file's content; the answer may come on any thread, or never. A stop
        // means it is no longer wanted.
        std::function<void(const FileInfo&, int side, std::stop_token, std::function<void(QImage)>)> thumbnail;
        // The Alt (option) key held now.
        std::function<bool()> optionKeyDown;

        static Services system();
    };

    static WheelController& shared();

    explicit WheelController(Services services, QObject* parent = nullptr);
    ~WheelController() override;

    // Listens to the watcher's drags, trigger taps and keys.
    void attach(DragWatcher& watcher);

    // Makes the wheel's window and draws a wheel once off screen (fonts, symbols, titles, the
    // backdrop), so that the first drag after launch does not wait for them.
    void prepare();

    // Click mode, for files handed to the application; the pointer when no point is given. The
    // wheel opens once the files are inspected, off the main thread, and then calls opened; a
    // request replaced or closed before that opens nothing.
    void showWheel(const QList<QUrl>& urls, WheelKind kind, std::optional<QPointF> point = {},
                   std::function<void()> opened = {});

    // From the drag watcher.
    void dragBegan(const QList<QUrl>& urls, const QList<FileInfo>& promisedFiles);
    // byRest: no key asked for it, a rest on the strip did.
    void requestWheel(WheelKind kind, bool byRest = false);
    void dragEnded();
    void handleKeyWhileDragging(int keyCode);

    void openWheel(WheelKind kind, QPointF point);
    void closeWheel(bool animated);
    // segment chosen by a click (no drop) or dropped on.
    void performChoice(const WheelSegmentModel& segment, const std::optional<WheelDrop>& drop);
    void reloadFromDrag(const WheelDrop& drop);
    void positionPanel(bool moreOpen);
    QPointF clampCenter(QPointF point) const;

    // What tests and the benchmark look at.
    WheelPanel& panel() const { return *m_panel; }
    WheelView& view() const;
    WheelTimeline& timeline() { return m_timeline; }
    Mode mode() const { return m_mode; }
    std::optional<WheelKind> currentKind() const { return m_currentKind; }
    std::optional<WheelKind> pendingKind() const { return m_pendingKind; }
    WheelSession* session() const { return m_session.get(); }
    QPointF wheelCenter() const { return m_wheelCenter; }
    int sessionToken() const { return m_sessionToken; }
    bool isClosePending() const { return m_closeTimer != 0; }
    bool isClickWheelPending() const { return m_clickPending; }
    bool dragChoiceMade() const { return m_dragChoiceMade; }
    bool isPanelVisible() const;

    // Milliseconds from a wheel opened to the work that can wait for its first frames: reading
    // the files in full, the contents of the other wheels.
    static constexpr int refineDelayMs = 50;

    // Seconds between the end of a drag and the close of a wheel nothing was dropped on.
    static constexpr double closeDelayAfterDrag = 0.35;
    // How long a click-mode wheel waits to learn the pointer on Wayland before it opens
    // mid-screen.
    static constexpr int pointerPatienceMs = 400;
    // How long it waits for the desktop's answer where the desktop is asked (GNOME Shell's
    // extension, which always answers, late on a busy machine): then it opens where the
    // pointer was last seen.
    static constexpr int desktopAnswerPatienceMs = 3000;

Q_SIGNALS:
    // A wheel came on screen (not a switch in place).
    void wheelOpened(qv::WheelKind kind);
    void wheelClosed();

private:
    // Describes the files in the background and hands them to then on the main thread, unless
    // another session was asked for meanwhile: first as far as their names tell, then, when
    // inspecting them told more, inspected in full to refineSession.
    void inspectInBackground(const QList<QUrl>& urls, std::function<void(SelectionSummary)> then);
    // The first look on the main thread: opens on it with then, and has the files inspected in
    // full later when it read some by name.
    void takeFirstLook(const SelectionSummary& look, const std::function<void(SelectionSummary)>& then);
    void refineSession(const QList<FileInfo>& files);
    // The session's files as inspected in full, inspected now when only their names were read.
    QList<FileInfo> inspectedFiles() const;
    bool isClickWheelShown() const;
    // shownFirst: the kind about to be shown, when one is (a pending one otherwise).
    void beginSession(SelectionSummary files, bool isClickMode,
                      std::optional<WheelKind> shownFirst = std::nullopt);
    // Frames the panel and the view's geometry for the wheel centre, without laying out.
    void placePanel(bool moreOpen);
    void requestThumbnail(const std::optional<FileInfo>& file);
    void setFirstFileIcon(const FileInfo& first);
    // The picture of data a drag carries without a file, once the drag shows its bytes.
    void showPromisedPicture(const WheelDrop& drop);
    void dropPromisedPicture();
    void chooseByKeyboard();
    void removeMonitors();
    void cancelPendingClose();
    void panelDismissed();
    // Shows the pointer catchers where they are needed; false where the pointer is known.
    bool coverScreens();
    void uncoverScreens();
    void pointerLearned();
    // Runs then once the catchers learned the pointer, or gave up waiting for it.
    void whenPointerKnown(std::function<void()> then);
    // The drag's wheel under the pointer, learned first where the drag is the application's own.
    void openDragWheel(WheelKind kind);
    double diameter() const;
    QPointF pointer() const;

    Services m_services;
    WheelPanel* m_panel;
    std::unique_ptr<WheelSession> m_session;
    std::optional<WheelKind> m_currentKind;
    Mode m_mode = Mode::drag;
    std::optional<WheelKind> m_pendingKind;
    bool m_byRest = false; // the drag's wheel was asked for by a rest
    QPointer<DragWatcher> m_watcher;
    bool m_coveringOwnDrag = false; // the catchers learn where a drag of our own is
    std::vector<QPointer<PointerCatcher>> m_spentCatchers;
    // See-through covers that learn the pointer for a click-mode wheel and close it on a click
    // beside it (Wayland with layer surfaces).
    std::vector<PointerCatcher*> m_catchers;
    bool m_pointerKnown = false;
    bool m_locatingPointer = false; // the desktop was asked where the pointer is
    bool m_clickWheelWatched = false;
    std::function<void()> m_afterPointer;
    QPointF m_wheelCenter;
    int m_thumbnailRequest = 0; // raised to forget an answer still on its way
    int m_sessionToken = 0;
    // The token as the background work sees it, to stop work nobody waits for.
    std::shared_ptr<std::atomic<int>> m_liveToken = std::make_shared<std::atomic<int>>(0);
    bool m_outsideClickMonitor = false;
    bool m_keyMonitor = false;
    int m_closeTimer = 0; // a WheelTimeline handle
    bool m_dragChoiceMade = false;
    bool m_clickPending = false; // a click-mode wheel waits for its files
    bool m_filesInspected = true; // false while the session knows its files by name only
    std::shared_ptr<std::stop_source> m_thumbnailStop; // stops the picture being made
    WheelTimeline m_timeline;
    QPointer<QVariantAnimation> m_choiceFade;
    QString m_promisedPictureFolder; // the dragged bytes, while the centre's picture is made
};

template <>
struct EnumText<WheelController::Mode> {
    static constexpr std::array names{"drag", "click"};
};

} // namespace qv
