#include "wheel/ui/WheelController.h"

#include "jobs/Toasts.h"

#include "jobs/DataPromise.h"
#include "jobs/OperationDispatcher.h"
#include "model/Clock.h"
#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "model/settings/Shortcut.h"
#include "platform/desktop/ReduceMotion.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/drags/DragOffer.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/processes/ThreadCall.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/FramedHide.h"
#include "wheel/DragWatcher.h"
#include "wheel/SourceLabel.h"
#include "wheel/ui/FilePictures.h"
#include "wheel/ui/PointerCatcher.h"
#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"
#include "wheel/WheelGeometry.h"
#include "wheel/WheelPlacement.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QDir>
#include <QImage>
#include <QSaveFile>
#include <QUuid>
#include <QScreen>
#include <QSet>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>

namespace qv {

namespace {

// Key codes in their stored form.
constexpr int keyTab = 48;
constexpr int keyReturn = 36;
constexpr int keyEnter = 76;
constexpr int keyLeft = 123;
constexpr int keyRight = 124;
constexpr int keyDown = 125;
constexpr int keyUp = 126;

QSet<QUrl> urlSet(const QList<QUrl>& urls)
{
    return QSet<QUrl>(urls.begin(), urls.end());
}

QList<FileInfo> inspectAll(const QList<QUrl>& urls, const std::function<FileInfo(const QUrl&)>& inspect)
{
    QList<FileInfo> files;
    files.reserve(urls.size());
    for (const QUrl& url : urls)
        files.append(inspect(url));
    return files;
}

struct FirstLook {
    QList<FileInfo> files;
    QList<bool> inspected; // read from the disk already
    bool allInspected = true;
};

// Each file by its name, or inspected when its name tells too little. One pass: reading names
// costs little, and threads sharing out the list would contend for the same strings.
FirstLook firstLook(const QList<QUrl>& urls,
                    const std::function<std::optional<FileInfo>(const QUrl&)>& byName,
                    const std::function<FileInfo(const QUrl&)>& inspect)
{
    FirstLook look;
    look.files.reserve(urls.size());
    look.inspected.reserve(urls.size());
    for (const QUrl& url : urls) {
        if (std::optional<FileInfo> file = byName(url)) {
            look.files.append(std::move(*file));
            look.inspected.append(false);
            look.allInspected = false;
        } else {
            look.files.append(inspect(url));
            look.inspected.append(true);
        }
    }
    return look;
}

QList<QUrl> urlsOf(const QList<FileInfo>& files)
{
    QList<QUrl> urls;
    urls.reserve(files.size());
    for (const FileInfo& file : files)
        urls.append(file.url);
    return urls;
}

// Whether the centre's picture of the file may differ from the other's.
bool picturedAlike(const FileInfo& a, const FileInfo& b)
{
    return a.url == b.url && a.category == b.category && a.isDirectory == b.isDirectory
        && a.format == b.format;
}

bool sameOffer(const WheelContent& a, const WheelContent& b)
{
    if (a.toJson() != b.toJson())
        return false;
    const auto operations = [](const WheelContent& content) {
        QList<QStringList> ids;
        for (const QList<WheelSegmentModel>* ring : {&content.segments, &content.overflow}) {
            for (const WheelSegmentModel& segment : *ring)
                ids.append(segment.entry ? segment.entry->operationIDs() : QStringList());
        }
        return ids;
    };
    return operations(a) == operations(b);
}

} // namespace

WheelController::Services WheelController::Services::system()
{
    Services services;
    services.dispatch = [](const WheelEntry& entry, const QList<FileInfo>& files,
                           const Promises& promises, bool optionHeld, QPointF point) {
        OperationDispatcher::shared().dispatchOperation(entry, files, promises, optionHeld, point);
    };
    services.screens = &ScreenProvider::system();
    services.clock = &Clock::system();
    services.settings = &SettingsStore::shared();
    services.runInBackground = [](std::function<void()> work) {
        // Ahead of the launch maintenance: the user is waiting for this.
        qv::runInBackground(std::move(work), 1);
    };
    services.runLater = [](std::function<void()> work) {
        // Reading thousands of files competes for the processor with the server mapping the
        // wheel and with its first frames; the wheel already shows what the names tell.
        QTimer::singleShot(refineDelayMs, qApp, [work = std::move(work)]() mutable {
            qv::runInBackground(std::move(work), 0);
        });
    };
    services.inspect = [](const QUrl& url) { return fileInfoForURL(url); };
    services.lookAhead = [](const QList<QUrl>& urls) { lookAheadAtFiles(urls); };
    services.describeByName = [](const QUrl& url) -> std::optional<FileInfo> {
        FileInfo file = fileInfoFromName(url);
        // A name without a known extension may be a folder's, or any file's.
        if (!file.format)
            return std::nullopt;
        return file;
    };
    services.summarize = [](const QList<QUrl>& urls) {
        return SelectionSummary::fromNames(urls, [](const QUrl& url) { return fileInfoForURL(url); });
    };
    services.summarizeByNames = [](const QList<QUrl>& urls) { return SelectionSummary::fromNamesAlone(urls); };
    services.refreshExternalApps = [] { Capabilities::shared().refreshExternalApps(false); };
    services.nudgePointer = [] { DragWatcher::shared().nudgePointer(); };
    services.locatePointer = [] { return DragWatcher::shared().locatePointer(); };
    services.watchClickWheel = [](const QRect& frame) { DragWatcher::shared().watchClickWheel(frame); };
    services.fileIcon = &qv::fileIcon;
    services.thumbnail = &loadThumbnail;
    services.optionKeyDown = [] {
        return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
    };
    return services;
}

WheelController& WheelController::shared()
{
    static WheelController* controller = [] {
        auto* made = new WheelController(Services::system());
        QTimer::singleShot(0, made, &WheelController::prepare);
        return made;
    }();
    return *controller;
}

void WheelController::prepare()
{
    // Never over a wheel the user already has.
    if (isPanelVisible() || m_session || m_clickPending)
        return;
    m_panel->winId();
    const FileInfo sample = fileInfoFromName(QUrl::fromLocalFile(QStringLiteral("/Photo.jpg")));
    WheelSession session({sample}, false, m_services.contentSource, WheelKind::convert);
    if (m_services.fileIcon)
        m_services.fileIcon(sample, int(std::lround(96 * diameter() / 420)));
    WheelView& v = view();
    m_wheelCenter = clampCenter(pointer());
    placePanel(false);
    v.reset();
    v.setSourceLabel(sourceLabel(session.files()));
    v.setFileCount(1);
    v.setThumbnail(std::nullopt);
    v.setContent(session.content(WheelKind::convert), false);
    const double ratio = m_panel->devicePixelRatioF();
    QImage frame(v.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    frame.setDevicePixelRatio(ratio);
    frame.fill(Qt::transparent);
    v.render(&frame);
    v.setContent(std::nullopt, false);
    v.setSourceLabel(QString());
}

WheelController::WheelController(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_panel(new WheelPanel)
    , m_timeline(*m_services.clock)
{
    WheelView* v = m_panel->view();
    v->setScreenProvider(*m_services.screens);
    connect(v, &WheelView::segmentChosen, this,
            [this](const WheelSegmentModel& segment) { performChoice(segment, std::nullopt); });
    connect(v, &WheelView::segmentDropped, this,
            [this](const WheelSegmentModel& segment, const WheelDrop& drop) { performChoice(segment, drop); });
    connect(v, &WheelView::closeRequested, this, &WheelController::closeWheel);
    connect(v, &WheelView::wheelSwitchRequested, this,
            [this](WheelKind kind) { openWheel(kind, pointer()); });
    connect(v, &WheelView::dragEnteredFirst, this, &WheelController::reloadFromDrag);
    connect(v, &WheelView::panelResizeRequested, this, &WheelController::positionPanel);
    connect(m_panel, &WheelPanel::dismissed, this, &WheelController::panelDismissed);
}

WheelController::~WheelController()
{
    delete m_panel;
}

WheelView& WheelController::view() const
{
    return *m_panel->view();
}

bool WheelController::isPanelVisible() const
{
    return m_panel->isShown();
}

void WheelController::attach(DragWatcher& watcher)
{
    m_watcher = &watcher;
    connect(&watcher, &DragWatcher::dragBegan, this, &WheelController::dragBegan);
    connect(&watcher, &DragWatcher::wheelRequested, this, &WheelController::requestWheel);
    connect(&watcher, &DragWatcher::dragEnded, this, &WheelController::dragEnded);
    connect(&watcher, &DragWatcher::keyPressedWhileDragging, this,
            &WheelController::handleKeyWhileDragging);
    connect(&watcher, &DragWatcher::pointerLocated, this, [this] {
        if (m_locatingPointer)
            pointerLearned();
    });
    connect(&watcher, &DragWatcher::clickWheelDismissed, this, [this] {
        if (m_mode == Mode::click && isPanelVisible())
            closeWheel(true);
    });
    // Keys the desktop took for the wheel, as if the wheel had the keyboard.
    connect(&watcher, &DragWatcher::clickWheelKeyPressed, this, [this](int key) {
        if (m_mode != Mode::click || !isPanelVisible())
            return;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&view(), &press);
        // The desktop tells a modifier key's press alone: it counts as a tap, so the next
        // press of it counts too.
        if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta) {
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
            QCoreApplication::sendEvent(&view(), &release);
        }
    });
}

double WheelController::diameter() const
{
    return WheelGeometry::diameterFor(currentWheelSize(*m_services.settings));
}

QPointF WheelController::pointer() const
{
    return m_services.screens->pointerLocation();
}

// --- Opening ----------------------------------------------------------------------------

void WheelController::showWheel(const QList<QUrl>& urls, WheelKind kind,
                                std::optional<QPointF> point, std::function<void()> opened)
{
    if (urls.isEmpty())
        return;
    if (isPanelVisible() || m_clickPending)
        closeWheel(false);
    m_liveToken->store(++m_sessionToken);
    m_session.reset();
    m_pendingKind.reset();
    m_mode = Mode::click;
    m_clickPending = true;
    if (m_services.refreshExternalApps)
        m_services.refreshExternalApps();
    // Where the user asked, however long the files take; under the pointer as it is then, where
    // a Wayland client must first show something under it to learn where it is.
    std::optional<QPointF> at = point;
    if (!at && !coverScreens())
        at = pointer();
    auto open = [this, kind, at, opened = std::move(opened)](SelectionSummary files) {
        beginSession(std::move(files), true, kind);
        whenPointerKnown([this, kind, at, opened] {
            m_clickPending = false;
            openWheel(kind, at.value_or(pointer()));
            if (opened)
                opened();
        });
    };
    inspectInBackground(urls, std::move(open));
}

bool WheelController::coverScreens()
{
    if (!PointerCatcher::isNeeded()) {
        // Where the desktop knows the pointer better than the display server (XWayland under
        // GNOME Shell), it is asked; without an answer the wheel opens where it was last seen.
        uncoverScreens();
        if (!m_services.locatePointer || !m_services.locatePointer())
            return false;
        m_pointerKnown = false;
        m_locatingPointer = true;
        QPointer<WheelController> self(this);
        QTimer::singleShot(desktopAnswerPatienceMs, this, [self] {
            if (self && self->m_locatingPointer)
                self->pointerLearned();
        });
        return true;
    }
    uncoverScreens();
    m_pointerKnown = false;
    for (QScreen* screen : QGuiApplication::screens()) {
        auto* catcher = new PointerCatcher(screen);
        connect(catcher, &PointerCatcher::pointerSeen, this, [this](QPoint global) {
            notePointerSeen(global);
            pointerLearned();
        });
        connect(catcher, &PointerCatcher::pressed, this, [this] {
            // A press beside a wheel shown is a click outside it.
            if (m_mode == Mode::click && isPanelVisible())
                closeWheel(true);
        });
        catcher->cover();
        m_catchers.push_back(catcher);
    }
    // A compositor that tells no pointer until it moves: the wheel opens mid-screen, or for a
    // drag of our own where our window last saw it (where Qt believes that window is).
    QPointer<WheelController> self(this);
    QTimer::singleShot(pointerPatienceMs, this, [self] {
        if (!self || self->m_pointerKnown || self->m_catchers.empty())
            return;
        if (const QScreen* primary = QGuiApplication::primaryScreen(); primary && !self->m_coveringOwnDrag)
            notePointerSeen(primary->geometry().center());
        self->pointerLearned();
    });
    return true;
}

void WheelController::pointerLearned()
{
    if (m_pointerKnown)
        return;
    m_pointerKnown = true;
    m_locatingPointer = false;
    if (std::function<void()> then = std::exchange(m_afterPointer, {}))
        then();
}

void WheelController::whenPointerKnown(std::function<void()> then)
{
    if ((m_catchers.empty() && !m_locatingPointer) || m_pointerKnown)
        then();
    else
        m_afterPointer = std::move(then);
}

void WheelController::uncoverScreens()
{
    m_afterPointer = {};
    m_coveringOwnDrag = false;
    m_locatingPointer = false;
    // Qt keeps sending a drag's events to the window it last entered: one a drag of our own
    // went over lives on, hidden, until that drag is over.
    const bool keep = m_watcher && m_watcher->isOwnDrag();
    for (PointerCatcher* catcher : m_catchers) {
        QPointer<PointerCatcher> gone(catcher);
        FramedHide::run(catcher, [gone, keep] {
            if (gone) {
                gone->hide();
                if (!keep)
                    gone->deleteLater();
            }
        });
        if (keep)
            m_spentCatchers.emplace_back(catcher);
    }
    m_catchers.clear();
}

bool WheelController::isClickWheelShown() const
{
    return m_mode == Mode::click && (isPanelVisible() || m_clickPending);
}

void WheelController::inspectInBackground(const QList<QUrl>& urls,
                                          std::function<void(SelectionSummary)> then)
{
    const int token = m_sessionToken;
    QPointer<WheelController> self(this);
    m_services.runInBackground([self, token, urls, inspect = m_services.inspect,
                                summarize = m_services.summarize,
                                byName = m_services.describeByName, then = std::move(then)] {
        // What the wheel needs first is each file's kind, which its name mostly tells; the
        // disk and the files' content are read while the wheel shows.
        SelectionSummary look;
        if (summarize) {
            look = summarize(urls);
        } else if (byName) {
            FirstLook first = firstLook(urls, byName, inspect);
            look = SelectionSummary(std::move(first.files), std::move(first.inspected));
        } else {
            look = SelectionSummary(inspectAll(urls, inspect), QList<bool>(urls.size(), true));
        }
        postToMainThread([self, token, look = std::move(look), then] {
            // A session that ended or was replaced meanwhile gets nothing.
            if (self && self->m_sessionToken == token)
                self->takeFirstLook(look, then);
        });
    });
}

void WheelController::takeFirstLook(const SelectionSummary& look,
                                    const std::function<void(SelectionSummary)>& then)
{
    const int token = m_sessionToken;
    QPointer<WheelController> self(this);
    const bool allInspected = look.allInspected();
    m_filesInspected = allInspected;
    then(look);
    if (allInspected || !self || self->m_sessionToken != token)
        return;
    const auto& runLater = m_services.runLater ? m_services.runLater : m_services.runInBackground;
    runLater([self, token, look, inspect = m_services.inspect, lookAhead = m_services.lookAhead,
              live = m_liveToken] {
        const QList<QUrl>& urls = look.urls();
        if (lookAhead) {
            QList<QUrl> unread;
            for (qsizetype i = 0; i < urls.size(); ++i)
                if (!look.wasInspected(i))
                    unread.append(urls[i]);
            lookAhead(unread);
        }
        QList<FileInfo> full;
        full.reserve(urls.size());
        for (qsizetype i = 0; i < urls.size(); ++i) {
            // A drag that is over needs no more reading.
            if (live->load(std::memory_order_relaxed) != token)
                return;
            full.append(look.wasInspected(i) ? look.fileAt(i) : inspect(urls[i]));
        }
        postToMainThread([self, token, full = std::move(full)] {
            if (self && self->m_sessionToken == token)
                self->refineSession(full);
        });
    });
}

void WheelController::refineSession(const QList<FileInfo>& files)
{
    // A drop may have replaced the files meanwhile.
    if (!m_session || m_filesInspected || m_session->urls(true) != urlsOf(files))
        return;
    m_filesInspected = true;
    // Compared only when the first look's list was made: making it to compare costs as much.
    if (m_session->selection().hasFiles() && m_session->files() == files)
        return;
    const bool samePicture = picturedAlike(m_session->selection().first(), files.first());
    const std::optional<QImage> thumbnail = m_session->thumbnail();
    auto session = std::make_unique<WheelSession>(files, m_session->isClickMode(), m_services.contentSource);
    if (thumbnail && samePicture)
        session->setThumbnail(*thumbnail);
    const bool sameContent = !m_currentKind || sameOffer(m_session->content(*m_currentKind), session->content(*m_currentKind));
    m_session = std::move(session);
    if (!samePicture) {
        setFirstFileIcon(files.first());
        requestThumbnail(files.first());
    }
    if (!isPanelVisible() || !m_currentKind)
        return;
    WheelView& v = view();
    if (!samePicture || sourceLabel(files) != v.sourceLabel()) {
        v.setSourceLabel(sourceLabel(files));
        v.setThumbnail(m_session->thumbnail());
        v.layoutCenter();
    }
    if (!sameContent)
        v.setContent(m_session->content(*m_currentKind), true);
}

QList<FileInfo> WheelController::inspectedFiles() const
{
    if (!m_session)
        return {};
    if (m_filesInspected)
        return m_session->files();
    return inspectAll(m_session->urls(true), m_services.inspect);
}

void WheelController::dragBegan(const QList<QUrl>& urls, const QList<FileInfo>& promisedFiles)
{
    // A wheel opened for files handed to the application keeps its own files.
    if (isClickWheelShown())
        return;
    // A wheel still closing after the last drag would otherwise close over this one's session.
    if (m_currentKind || m_closeTimer != 0)
        closeWheel(false);
    m_liveToken->store(++m_sessionToken);
    m_session.reset();
    m_pendingKind.reset();
    m_dragChoiceMade = false;
    m_byRest = false;
    if (m_services.refreshExternalApps)
        m_services.refreshExternalApps();

    if (urls.isEmpty()) {
        m_filesInspected = true;
        beginSession(SelectionSummary(promisedFiles), false);
        return;
    }
    const auto begin = [this](SelectionSummary files) { beginSession(std::move(files), false); };
    // Names that all tell their kind are read here: handing a few thousand of them to another
    // thread and back costs more than reading them, and a loaded machine may wake it late.
    if (m_services.summarizeByNames) {
        if (std::optional<SelectionSummary> look = m_services.summarizeByNames(urls)) {
            takeFirstLook(*look, begin);
            return;
        }
    }
    inspectInBackground(urls, begin);
}

void WheelController::requestWheel(WheelKind kind, bool byRest)
{
    if (isClickWheelShown())
        return;
    m_mode = Mode::drag;
    m_byRest = byRest;
    if (!m_session) {
        m_pendingKind = kind;
        return;
    }
    openDragWheel(kind);
}

void WheelController::openDragWheel(WheelKind kind)
{
    // A drag of the application's own, over its own window: a Wayland client does not know
    // where that window is, so the covers learn where the drag is first.
    if (!isPanelVisible() && m_watcher && m_watcher->isOwnDrag() && PointerCatcher::isNeeded()) {
        if (m_catchers.empty()) {
            coverScreens();
            m_coveringOwnDrag = true;
        }
        whenPointerKnown([this, kind] {
            uncoverScreens();
            openWheel(kind, pointer());
        });
        return;
    }
    openWheel(kind, pointer());
}

void WheelController::beginSession(SelectionSummary files, bool isClickMode,
                                   std::optional<WheelKind> shownFirst)
{
    if (!shownFirst)
        shownFirst = m_pendingKind;
    // A wheel waiting to be shown needs its own content first; the others follow once its first
    // frames are out.
    const std::optional<FileInfo> first = files.isEmpty() ? std::nullopt : std::optional(files.first());
    m_session = std::make_unique<WheelSession>(std::move(files), isClickMode, m_services.contentSource, shownFirst);
    if (shownFirst)
        QTimer::singleShot(refineDelayMs, m_session.get(), [session = m_session.get()] { session->fillContents(); });
    if (first)
        setFirstFileIcon(*first);
    requestThumbnail(first);
    if (m_pendingKind) {
        const WheelKind kind = *m_pendingKind;
        m_pendingKind.reset();
        if (isClickMode)
            openWheel(kind, pointer());
        else
            openDragWheel(kind);
    }
}

void WheelController::setFirstFileIcon(const FileInfo& first)
{
    if (!m_services.fileIcon || !m_session)
        return;
    const int side = int(std::lround(96 * diameter() / 420));
    if (const std::optional<QImage> icon = m_services.fileIcon(first, side))
        m_session->setThumbnail(*icon);
}

void WheelController::requestThumbnail(const std::optional<FileInfo>& file)
{
    const int request = ++m_thumbnailRequest;
    if (m_thumbnailStop)
        m_thumbnailStop->request_stop();
    m_thumbnailStop.reset();
    if (!file || file->isPromise || file->isDirectory || !m_services.thumbnail)
        return;
    m_thumbnailStop = std::make_shared<std::stop_source>();
    double scale = 2.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        scale = screen->devicePixelRatio();
    const int side = int(std::lround(96 * diameter() / 420 * scale));
    const int token = m_sessionToken;
    QPointer<WheelController> self(this);
    m_services.thumbnail(*file, side, m_thumbnailStop->get_token(), [self, token, request](QImage image) {
        postToMainThread([self, token, request, image = std::move(image)] {
            if (!self || self->m_sessionToken != token || self->m_thumbnailRequest != request
                || !self->m_session || image.isNull())
                return;
            self->m_session->setThumbnail(image);
            if (self->isPanelVisible()) {
                self->view().setThumbnail(image);
                self->view().layoutCenter();
                self->view().update();
            }
        });
    });
}

void WheelController::openWheel(WheelKind kind, QPointF point)
{
    if (!m_session)
        return;
    cancelPendingClose();
    const WheelContent content = m_session->content(kind);
    WheelView& v = view();
    // A wheel a rest opened names no key, and the one a further rest moves on to.
    if (m_mode == Mode::drag && m_byRest)
        v.setRestHint(true, DragWatcher::wheelAfterRest(DragWatcher::readTriggers(*m_services.settings), kind));
    else
        v.setRestHint(false, std::nullopt);

    if (isPanelVisible() && m_currentKind) {
        // Switching wheels in place keeps the position, the centre and the monitors.
        qCDebug(wheelLog, "Switched to the %s wheel", qUtf8Printable(toString(kind)));
        m_currentKind = kind;
        v.setContent(content, true);
        return;
    }

    m_currentKind = kind;
    if (m_choiceFade)
        m_choiceFade->stop();
    m_panel->setClickMode(m_mode == Mode::click);
    v.reset();
    v.setCloseShortcut(m_mode == Mode::click ? storedShortcut(*m_services.settings) : std::nullopt);

    m_wheelCenter = clampCenter(point);
    // Laid out once, by setContent, for the frame placed here.
    placePanel(false);

    v.setSourceLabel(sourceLabelFor(m_session->selection()));
    v.setFileCount(int(m_session->fileCount()));
    v.setThumbnail(m_session->thumbnail());
    v.setContent(content, false);

    m_panel->setAlpha(1);
    removeMonitors();
    m_panel->orderFront();
    if (m_mode == Mode::click) {
        // The panel is a popup: Qt closes it on a click elsewhere and tells us (dismissed).
        m_outsideClickMonitor = true;
        // Unless the click lands on another display server's window (XWayland's wheel over
        // Wayland windows): the desktop watches for it, and for Escape, which never reaches us.
        if (m_services.watchClickWheel) {
            m_services.watchClickWheel(m_panel->geometry());
            m_clickWheelWatched = true;
        }
    } else {
        m_keyMonitor = m_services.settings->boolValue(SettingsKey::keyboardWhileDragging);
        if (m_services.nudgePointer)
            m_services.nudgePointer();
    }
    v.playOpenAnimation();
    // In Qt's pixels, as the desktop names the pointer.
    const QPoint centre(qRound(m_wheelCenter.x()), qRound(m_services.screens->primaryHeight() - m_wheelCenter.y()));
    qCDebug(wheelLog, "Opened %s wheel with %lld segments at %d,%d", qUtf8Printable(toString(kind)),
            qlonglong(content.segments.size()), centre.x(), centre.y());
    Q_EMIT wheelOpened(kind);
}

QPointF WheelController::clampCenter(QPointF point) const
{
    return WheelPlacement::clampCenter(point, diameter(), *m_services.screens);
}

void WheelController::positionPanel(bool moreOpen)
{
    placePanel(moreOpen);
    view().relayout();
}

void WheelController::placePanel(bool moreOpen)
{
    const double d = diameter();
    const QRectF frame = WheelPlacement::panelRect(m_wheelCenter, d, moreOpen, *m_services.screens);
    m_panel->setFrame(WheelPlacement::toQt(frame, m_services.screens->primaryHeight()));
    for (PointerCatcher* catcher : m_catchers)
        catcher->leaveHole(m_panel->geometry());
    WheelView& v = view();
    v.setDiameter(d);
    v.setWheelCenter(m_wheelCenter - frame.topLeft()); // topLeft of a y-up rectangle: its origin
}

// --- Choosing ---------------------------------------------------------------------------

void WheelController::performChoice(const WheelSegmentModel& segment, const std::optional<WheelDrop>& drop)
{
    if (!segment.entry || segment.isMore() || !m_session || m_dragChoiceMade) {
        // The keyboard already chose during this drag: the drop only closes.
        closeWheel(true);
        return;
    }
    QList<FileInfo> files;
    Promises promises;
    if (drop && !drop->urls.isEmpty()) {
        if (urlSet(drop->urls) != urlSet(m_session->urls(false)))
            files = inspectAll(drop->urls, m_services.inspect);
        else
            files = inspectedFiles();
    } else {
        files = inspectedFiles();
        if (drop) {
            WheelDrop named = *drop;
            named.nameAfter(files);
            promises = named.promises;
        }
    }
    // Files only promised while the drag ran are not there to work on; without the drop's
    // data there is nothing.
    const bool promised = !files.isEmpty() && files.first().isPromise;
    if (promises.isEmpty())
        files.removeIf([](const FileInfo& file) { return file.isPromise; });
    const bool optionHeld = drop ? drop->optionHeld
                                 : (m_services.optionKeyDown && m_services.optionKeyDown());
    const QPointF point = drop ? drop->point : pointer();
    const WheelEntry entry = *segment.entry;
    qCDebug(wheelLog, "Chose %s", qUtf8Printable(entry.id));
    // Closed first, so that an editor or sheet the dispatcher opens is never under the wheel.
    closeWheel(true);
    if (promised && files.isEmpty() && promises.isEmpty()) {
        showToast(QStringLiteral("The app you dragged from didn't provide the file"),
                  QStringLiteral("exclamationmark.triangle"), 3.0);
        return;
    }
    if (m_services.dispatch)
        m_services.dispatch(entry, files, promises, optionHeld, point);
}

void WheelController::handleKeyWhileDragging(int keyCode)
{
    if (!m_keyMonitor || !isPanelVisible() || m_mode != Mode::drag || m_dragChoiceMade)
        return;
    switch (keyCode) {
    case keyTab: view().handleTab(); break;
    case keyReturn:
    case keyEnter: chooseByKeyboard(); break;
    case keyRight:
    case keyDown: view().moveTarget(1); break;
    case keyLeft:
    case keyUp: view().moveTarget(-1); break;
    default: break;
    }
}

void WheelController::chooseByKeyboard()
{
    const WheelTarget target = view().target();
    const std::optional<WheelSegmentModel> model = view().segmentModel(target);
    if (!model || !model->entry || model->isMore() || !m_session)
        return;
    // Promised data arrives only with the drop.
    if (m_session->fileCount() > 0 && m_session->selection().first().isPromise)
        return;
    m_dragChoiceMade = true;
    view().pulseTarget(target);
    if (m_services.dispatch)
        m_services.dispatch(*model->entry, inspectedFiles(), {}, false, pointer());
    // Nearly invisible but still there until the drag ends; the drop then only closes it.
    auto* fade = new QVariantAnimation(this);
    fade->setStartValue(m_panel->windowOpacity());
    fade->setEndValue(0.001);
    fade->setDuration(140);
    connect(fade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { m_panel->setAlpha(value.toDouble()); });
    m_choiceFade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void WheelController::reloadFromDrag(const WheelDrop& drop)
{
    if (m_session && !m_session->isClickMode() && drop.urls.isEmpty() && m_currentKind) {
        showPromisedPicture(drop);
        return;
    }
    if (!m_session || m_session->isClickMode() || drop.urls.isEmpty() || !m_currentKind)
        return;
    // The wheel may have been built from promise placeholders or a stale reading of the drag.
    if (urlSet(drop.urls) == urlSet(m_session->urls(true)))
        return;
    const std::optional<QImage> thumbnail = m_session->thumbnail();
    m_session = std::make_unique<WheelSession>(inspectAll(drop.urls, m_services.inspect), false,
                                               m_services.contentSource);
    m_filesInspected = true;
    if (thumbnail)
        m_session->setThumbnail(*thumbnail);
    WheelView& v = view();
    v.setSourceLabel(sourceLabelFor(m_session->selection()));
    v.setFileCount(int(m_session->fileCount()));
    v.setThumbnail(m_session->thumbnail());
    v.layoutCenter();
    v.setContent(m_session->content(*m_currentKind), true);
}

void WheelController::showPromisedPicture(const WheelDrop& drop)
{
    if (m_session->fileCount() != 1 || !m_session->selection().first().isPromise || drop.promises.size() != 1
        || !m_services.thumbnail)
        return;
    const auto data = std::dynamic_pointer_cast<DataPromise>(drop.promises.first());
    if (!data || data->items().size() != 1 || data->items().first().data.isEmpty())
        return;
    const DataPromise::Item& item = data->items().first();
    // The bytes are decoded where every file is, in a worker: they go to a private folder first.
    dropPromisedPicture();
    QString path;
    try {
        m_promisedPictureFolder = TemporaryRoot::makeLiveFolder(
            QStringLiteral("wheel-picture-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
        // Data a source names not at all (a picture's bytes alone) still needs a file name.
        const QString named = m_session->selection().first().name;
        path = m_promisedPictureFolder + QLatin1Char('/')
            + DragOffer::fileNameFor(named.isEmpty() ? QStringLiteral("picture") : named, item.mimeType);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(item.data) != item.data.size() || !file.commit())
            throw SystemError(QStringLiteral("QSaveFile"), int(file.error()), file.errorString());
    } catch (const std::exception& error) {
        qCDebug(wheelLog, "No picture of the dragged data: %s", error.what());
        dropPromisedPicture();
        return;
    }
    const FileInfo file = m_services.inspect(QUrl::fromLocalFile(path));
    const int request = ++m_thumbnailRequest;
    if (m_thumbnailStop)
        m_thumbnailStop->request_stop();
    m_thumbnailStop = std::make_shared<std::stop_source>();
    double scale = 2.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        scale = screen->devicePixelRatio();
    const int side = int(std::lround(96 * diameter() / 420 * scale));
    const int token = m_sessionToken;
    QPointer<WheelController> self(this);
    const QString folder = m_promisedPictureFolder;
    m_services.thumbnail(file, side, m_thumbnailStop->get_token(), [self, token, request, folder](QImage image) {
        postToMainThread([self, token, request, folder, image = std::move(image)] {
            if (!self)
                return;
            if (self->m_promisedPictureFolder == folder)
                self->dropPromisedPicture();
            if (self->m_sessionToken != token || self->m_thumbnailRequest != request || !self->m_session
                || image.isNull())
                return;
            self->m_session->setThumbnail(image);
            if (self->isPanelVisible()) {
                self->view().setThumbnail(image);
                self->view().layoutCenter();
                self->view().update();
            }
        });
    });
}

void WheelController::dropPromisedPicture()
{
    if (m_promisedPictureFolder.isEmpty())
        return;
    QDir(m_promisedPictureFolder).removeRecursively();
    WorkFolderRegistry::remove(m_promisedPictureFolder);
    m_promisedPictureFolder.clear();
}

// --- Closing ----------------------------------------------------------------------------

void WheelController::dragEnded()
{
    for (const QPointer<PointerCatcher>& spent : std::exchange(m_spentCatchers, {})) {
        if (spent)
            spent->deleteLater();
    }
    // A click-mode wheel, shown or on its way, is not the drag's to close.
    if (isClickWheelShown())
        return;
    m_liveToken->store(++m_sessionToken);
    m_pendingKind.reset();
    if (m_mode == Mode::click)
        return;
    if (!isPanelVisible()) {
        m_session.reset();
        return;
    }
    // The drop, delivered around now, must still find the session.
    cancelPendingClose();
    QPointer<WheelController> self(this);
    m_closeTimer = m_timeline.schedule(closeDelayAfterDrag, [self] {
        if (!self)
            return;
        self->m_closeTimer = 0;
        if (self->m_mode == Mode::drag)
            self->closeWheel(true);
    });
}

void WheelController::cancelPendingClose()
{
    if (m_closeTimer != 0)
        m_timeline.cancel(m_closeTimer);
    m_closeTimer = 0;
}

void WheelController::removeMonitors()
{
    m_outsideClickMonitor = false;
    m_keyMonitor = false;
    if (std::exchange(m_clickWheelWatched, false) && m_services.watchClickWheel)
        m_services.watchClickWheel(QRect());
}

void WheelController::panelDismissed()
{
    if (m_mode == Mode::click && m_outsideClickMonitor)
        closeWheel(true);
}

void WheelController::closeWheel(bool animated)
{
    if (m_clickPending) {
        m_clickPending = false;
        m_liveToken->store(++m_sessionToken); // its files, when they come, open nothing
    }
    uncoverScreens();
    cancelPendingClose();
    removeMonitors();
    const bool wasOpen = m_currentKind.has_value();
    m_currentKind.reset();
    ++m_thumbnailRequest;
    if (m_thumbnailStop)
        m_thumbnailStop->request_stop();
    m_thumbnailStop.reset();
    dropPromisedPicture();
    m_mode = Mode::drag;
    m_session.reset();
    m_dragChoiceMade = false;
    if (m_choiceFade)
        m_choiceFade->stop();
    if (wasOpen) {
        qCDebug(wheelLog, "Closed the wheel");
        Q_EMIT wheelClosed();
    }
    if (!isPanelVisible())
        return;
    if (animated && !reduceMotion()) {
        m_panel->fadeOut(140, [this] {
            // A wheel opened meanwhile stays.
            if (!m_currentKind)
                m_panel->orderOut();
            m_panel->setAlpha(1);
        });
    } else {
        m_panel->orderOut();
    }
}

} // namespace qv
