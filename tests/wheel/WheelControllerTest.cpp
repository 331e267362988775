#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/FakeScreens.h"
#include "support/WaitFor.h"
#include "wheel/ui/WheelController.h"
#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

namespace {

struct Dispatched {
    QString entry;
    QList<QUrl> files;
    int promises = 0;
    bool optionHeld = false;
    QPointF point;
};

QList<WheelEntry> entries(WheelKind kind, int count)
{
    QList<WheelEntry> list;
    for (int i = 0; i < count; ++i)
        list.append(WheelEntry{QStringLiteral("%1.%2").arg(toString(kind)).arg(i),
                               QStringLiteral("Entry %1").arg(i), QStringLiteral("crop"), kind, {}});
    return list;
}

FileInfo infoFor(const QUrl& url)
{
    FileInfo file;
    file.url = url;
    file.name = url.fileName();
    file.category = FileCategory::image;
    return file;
}

class WheelControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("QUORVENDA_REDUCE_MOTION", "1");
        registerDefaultSettings(store);
        screens.list = {ScreenInfo{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050), 1}};
        screens.pointer = QPointF(900, 500);

        services.dispatch = [this](const WheelEntry& entry, const QList<FileInfo>& files,
                                   const WheelController::Promises& promises, bool option, QPointF point) {
            QList<QUrl> urls;
            for (const FileInfo& file : files)
                urls.append(file.url);
            dispatched.append({entry.id, urls, int(promises.size()), option, point});
        };
        services.screens = &screens;
        services.clock = &clock;
        services.settings = &store;
        services.contentSource = [](const QList<FileInfo>&, WheelKind kind) {
            return WheelContent::build(kind, entries(kind, 4), std::nullopt);
        };
        services.runInBackground = [this](std::function<void()> work) { background.append(work); };
        services.inspect = [this](const QUrl& url) {
            ++inspected;
            return infoFor(url);
        };
        services.refreshExternalApps = [this] { ++refreshes; };
        services.nudgePointer = [this] { ++nudges; };
        services.optionKeyDown = [] { return false; };
        controller = std::make_unique<WheelController>(services);
    }

    void TearDown() override { qunsetenv("QUORVENDA_REDUCE_MOTION"); }

    // Runs the inspections handed to the background and delivers their results.
    void finishInspection()
    {
        const auto work = std::exchange(background, {});
        for (const auto& task : work)
            task();
        QCoreApplication::processEvents();
    }

    void advance(qint64 ms)
    {
        clock.advance(ms);
        controller->timeline().advance();
    }

    WheelSegmentModel segment(int index) const
    {
        return controller->view().content()->segments.at(index);
    }

    WheelDrop dropOf(const QList<QUrl>& urls, QPointF point, bool option = false) const
    {
        WheelDrop drop;
        drop.urls = urls;
        drop.point = point;
        drop.optionHeld = option;
        return drop;
    }

    const QUrl a = QUrl::fromLocalFile(QStringLiteral("/tmp/wheel/a.jpg"));
    const QUrl b = QUrl::fromLocalFile(QStringLiteral("/tmp/wheel/b.jpg"));
    const QUrl c = QUrl::fromLocalFile(QStringLiteral("/tmp/wheel/c.png"));

    SettingsStore store{QString()};
    FakeClock clock;
    FakeScreens screens;
    QList<std::function<void()>> background;
    QList<Dispatched> dispatched;
    int inspected = 0;
    int refreshes = 0;
    int nudges = 0;
    WheelController::Services services;
    std::unique_ptr<WheelController> controller;
};

} // namespace

TEST_F(WheelControllerTest, AKindAskedForBeforeTheSessionOpensOnceItExists)
{
    controller->dragBegan({a, b}, {});
    EXPECT_EQ(refreshes, 1);
    controller->requestWheel(WheelKind::tools);
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(controller->pendingKind(), WheelKind::tools);
    EXPECT_FALSE(controller->isPanelVisible());

    // It opens where the pointer is when the files are known, kept off the edge.
    screens.pointer = QPointF(30, 600);
    finishInspection();
    ASSERT_TRUE(controller->session());
    EXPECT_EQ(controller->session()->files().size(), 2);
    EXPECT_EQ(controller->currentKind(), WheelKind::tools);
    EXPECT_FALSE(controller->pendingKind());
    EXPECT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->mode(), WheelController::Mode::drag);
    EXPECT_FALSE(controller->panel().isClickMode());
    EXPECT_EQ(controller->wheelCenter(), QPointF(258, 600));
    EXPECT_EQ(nudges, 1);
    EXPECT_EQ(controller->view().sourceLabel(), QStringLiteral("2 FILES"));
    // The panel is the 516-point square around the centre, in Qt's coordinates.
    EXPECT_EQ(controller->panel().geometry(), QRect(0, 1080 - 342 - 516, 516, 516));
    EXPECT_EQ(controller->view().wheelGeometry().center, QPointF(258, 258));

    // Another trigger switches in place: no move, no second open.
    int opens = 0;
    QObject::connect(controller.get(), &WheelController::wheelOpened, [&] { ++opens; });
    screens.pointer = QPointF(1200, 300);
    controller->requestWheel(WheelKind::actions);
    EXPECT_EQ(controller->currentKind(), WheelKind::actions);
    EXPECT_EQ(controller->view().content()->kind, WheelKind::actions);
    EXPECT_EQ(controller->wheelCenter(), QPointF(258, 600));
    EXPECT_EQ(opens, 0);
    EXPECT_EQ(nudges, 1);

    // A drag that ends before its files are known never gets a session, nor its wheel.
    controller->closeWheel(false);
    controller->dragBegan({c}, {});
    controller->requestWheel(WheelKind::convert);
    controller->dragEnded();
    finishInspection();
    EXPECT_FALSE(controller->session());
    EXPECT_FALSE(controller->isPanelVisible());

    // Promises only: the session is made at once from the placeholders.
    FileInfo promised = infoFor(QUrl::fromLocalFile(QStringLiteral("/tmp/promises/x.png")));
    promised.isPromise = true;
    controller->dragBegan({}, {promised});
    ASSERT_TRUE(controller->session());
    EXPECT_TRUE(background.isEmpty());
}

TEST_F(WheelControllerTest, AKeyboardChoiceDuringADragDispatchesOnceAndTheDropOnlyCloses)
{
    controller->dragBegan({a, b}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    ASSERT_TRUE(controller->isPanelVisible());

    // Keys do nothing unless keyboard use while dragging is on.
    controller->handleKeyWhileDragging(124);
    EXPECT_TRUE(controller->view().target().isNone());

    store.setValue(SettingsKey::keyboardWhileDragging, true);
    controller->closeWheel(false);
    controller->dragBegan({a, b}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    // From no target: right gives the first segment; then 1, 2 and back to 1.
    for (int key : {124, 124, 125, 123})
        controller->handleKeyWhileDragging(key);
    EXPECT_EQ(controller->view().target(), WheelTarget::inner(1));
    screens.pointer = QPointF(910, 520);
    controller->handleKeyWhileDragging(36);
    ASSERT_EQ(dispatched.size(), 1);
    EXPECT_EQ(dispatched[0].entry, QStringLiteral("convert.1"));
    EXPECT_EQ(dispatched[0].files, (QList<QUrl>{a, b}));
    EXPECT_EQ(dispatched[0].promises, 0);
    EXPECT_FALSE(dispatched[0].optionHeld);
    EXPECT_EQ(dispatched[0].point, QPointF(910, 520));
    EXPECT_TRUE(controller->dragChoiceMade());
    // Still there, nearly invisible, until the drag ends; more keys do nothing.
    EXPECT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->currentKind(), WheelKind::convert);
    controller->handleKeyWhileDragging(76);
    EXPECT_EQ(dispatched.size(), 1);

    // The drop that follows, even with Option, runs nothing a second time.
    controller->performChoice(segment(2), dropOf({a, b}, QPointF(910, 520), true));
    EXPECT_EQ(dispatched.size(), 1);
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_FALSE(controller->currentKind());
    EXPECT_FALSE(controller->session());
    EXPECT_FALSE(controller->dragChoiceMade());
}

TEST_F(WheelControllerTest, TheWheelCloses350MillisecondsAfterTheDragEnds)
{
    controller->dragBegan({a, b}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    ASSERT_TRUE(controller->isPanelVisible());
    const int token = controller->sessionToken();

    controller->dragEnded();
    EXPECT_EQ(controller->sessionToken(), token + 1);
    EXPECT_TRUE(controller->isClosePending());
    advance(340);
    EXPECT_TRUE(controller->isPanelVisible());
    EXPECT_TRUE(controller->session());
    advance(10);
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_FALSE(controller->currentKind());
    EXPECT_FALSE(controller->session());
    EXPECT_TRUE(dispatched.isEmpty());

    // A drop inside the delay is still taken, and closes at once: the delayed close is off.
    // Other files than the session's are inspected afresh; the point and Option are the drop's.
    controller->dragBegan({a, b}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    controller->dragEnded();
    advance(100);
    inspected = 0;
    controller->performChoice(segment(3), dropOf({c, a}, QPointF(700, 400), true));
    EXPECT_FALSE(controller->isClosePending());
    EXPECT_FALSE(controller->isPanelVisible());
    ASSERT_EQ(dispatched.size(), 1);
    EXPECT_EQ(dispatched[0].entry, QStringLiteral("convert.3"));
    EXPECT_EQ(dispatched[0].files, (QList<QUrl>{c, a}));
    EXPECT_EQ(inspected, 2);
    EXPECT_TRUE(dispatched[0].optionHeld);
    EXPECT_EQ(dispatched[0].point, QPointF(700, 400));

    // The same files as the session's keep their known details; a drop on More runs nothing.
    controller->dragBegan({a, b}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    inspected = 0;
    controller->performChoice(segment(0), dropOf({b, a}, QPointF(1, 2)));
    EXPECT_EQ(inspected, 0);
    EXPECT_EQ(dispatched.last().files, (QList<QUrl>{a, b}));
    controller->dragBegan({a}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    controller->performChoice(WheelSegmentModel::more(), dropOf({a}, QPointF(1, 2)));
    EXPECT_EQ(dispatched.size(), 2);
    EXPECT_FALSE(controller->isPanelVisible());

    // A new drag within the delay is not closed by the last drag's pending close.
    controller->dragBegan({a}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    controller->dragEnded();
    advance(200);
    controller->dragBegan({b, c}, {});
    EXPECT_FALSE(controller->isClosePending());
    finishInspection();
    advance(300);
    controller->requestWheel(WheelKind::tools);
    EXPECT_EQ(controller->currentKind(), WheelKind::tools);
    EXPECT_EQ(controller->session()->files().size(), 2);
    controller->closeWheel(false);

    // With motion, the close fades out first and then orders the panel out.
    qunsetenv("QUORVENDA_REDUCE_MOTION");
    controller->dragBegan({a}, {});
    finishInspection();
    controller->requestWheel(WheelKind::convert);
    controller->dragEnded();
    advance(350);
    EXPECT_FALSE(controller->currentKind());
    EXPECT_TRUE(waitFor([&] { return !controller->isPanelVisible(); }, 5000));
    EXPECT_DOUBLE_EQ(controller->panel().windowOpacity(), 1.0);
}

TEST_F(WheelControllerTest, ClickModeOpensForGivenFilesAndAClickOutsideCloses)
{
    controller->showWheel({}, WheelKind::convert);
    EXPECT_FALSE(controller->isPanelVisible());

    controller->showWheel({a, c}, WheelKind::convert, QPointF(10, 10));
    finishInspection();
    ASSERT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->mode(), WheelController::Mode::click);
    EXPECT_TRUE(controller->panel().isClickMode());
    EXPECT_TRUE(controller->session()->isClickMode());
    EXPECT_EQ(controller->wheelCenter(), QPointF(258, 258));
    EXPECT_EQ(controller->panel().geometry(), QRect(0, 1080 - 516, 516, 516));
    EXPECT_EQ(nudges, 0);

    // A drag elsewhere does not disturb it: its triggers and its end are ignored.
    controller->dragBegan({b}, {});
    finishInspection();
    controller->requestWheel(WheelKind::tools);
    controller->dragEnded();
    advance(1000);
    EXPECT_EQ(controller->currentKind(), WheelKind::convert);
    EXPECT_EQ(controller->session()->files().size(), 2);

    // A click on a segment runs it with the given files at the pointer.
    screens.pointer = QPointF(300, 260);
    Q_EMIT controller->view().segmentChosen(segment(1));
    ASSERT_EQ(dispatched.size(), 1);
    EXPECT_EQ(dispatched[0].entry, QStringLiteral("convert.1"));
    EXPECT_EQ(dispatched[0].files, (QList<QUrl>{a, c}));
    EXPECT_EQ(dispatched[0].point, QPointF(300, 260));
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_EQ(controller->mode(), WheelController::Mode::drag);

    // Without a point the pointer is used; a click outside the popup closes it.
    screens.pointer = QPointF(1000, 600);
    controller->showWheel({a}, WheelKind::actions);
    finishInspection();
    ASSERT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->wheelCenter(), QPointF(1000, 600));
    WheelPanel& panel = controller->panel();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(-40, -40), panel.mapToGlobal(QPointF(-40, -40)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&panel, &press);
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_FALSE(controller->currentKind());
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(controller->mode(), WheelController::Mode::drag);
    EXPECT_EQ(dispatched.size(), 1);
}

TEST_F(WheelControllerTest, ClickModeInspectsItsFilesInTheBackgroundAndOpensWhereAsked)
{
    int opens = 0;
    QObject::connect(controller.get(), &WheelController::wheelOpened, [&] { ++opens; });

    // Opening a PDF to look inside may take a while: none of it on the calling thread.
    screens.pointer = QPointF(900, 500);
    controller->showWheel({a, c}, WheelKind::convert);
    EXPECT_EQ(inspected, 0);
    EXPECT_EQ(background.size(), 1);
    EXPECT_TRUE(controller->isClickWheelPending());
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_EQ(refreshes, 1);

    // Meanwhile a drag elsewhere neither takes over nor ends the wait.
    controller->dragBegan({b}, {});
    controller->requestWheel(WheelKind::tools);
    controller->dragEnded();
    EXPECT_EQ(background.size(), 1);

    // It opens where the pointer was when asked, with its own files.
    screens.pointer = QPointF(100, 100);
    finishInspection();
    EXPECT_EQ(inspected, 2);
    EXPECT_FALSE(controller->isClickWheelPending());
    ASSERT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->mode(), WheelController::Mode::click);
    EXPECT_TRUE(controller->panel().isClickMode());
    EXPECT_EQ(controller->currentKind(), WheelKind::convert);
    EXPECT_EQ(controller->wheelCenter(), QPointF(900, 500));
    EXPECT_EQ(controller->view().sourceLabel(), QStringLiteral("2 FILES"));
    EXPECT_TRUE(controller->session()->isClickMode());
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(nudges, 0);
    controller->closeWheel(false);

    // A second request while the first is inspected wins; only it says it opened.
    QStringList told;
    controller->showWheel({a}, WheelKind::convert, QPointF(400, 400), [&] { told << "first"; });
    controller->showWheel({b, c}, WheelKind::actions, QPointF(600, 600), [&] { told << "second"; });
    EXPECT_TRUE(told.isEmpty());
    finishInspection();
    EXPECT_EQ(told, QStringList{"second"});
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(controller->currentKind(), WheelKind::actions);
    EXPECT_EQ(controller->wheelCenter(), QPointF(600, 600));
    ASSERT_TRUE(controller->session());
    EXPECT_EQ(controller->session()->files().size(), 2);

    // Closed before its files are known: nothing opens later, and drags work again.
    controller->showWheel({a}, WheelKind::convert, std::nullopt, [&] { told << "closed"; });
    controller->closeWheel(false);
    EXPECT_FALSE(controller->isClickWheelPending());
    finishInspection();
    EXPECT_EQ(told, QStringList{"second"});
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(opens, 2);
    controller->dragBegan({b}, {});
    controller->requestWheel(WheelKind::tools);
    finishInspection();
    EXPECT_EQ(controller->mode(), WheelController::Mode::drag);
    EXPECT_EQ(controller->currentKind(), WheelKind::tools);
    controller->closeWheel(false);

    // Files that come after the controller is gone are dropped.
    controller->showWheel({a}, WheelKind::convert);
    controller.reset();
    finishInspection();
}

TEST_F(WheelControllerTest, TheFirstDragEntryRebuildsTheWheelFromTheRealFiles)
{
    FileInfo promised = infoFor(QUrl::fromLocalFile(QStringLiteral("/tmp/promises/x.png")));
    promised.isPromise = true;
    controller->dragBegan({}, {promised});
    controller->requestWheel(WheelKind::convert);
    ASSERT_TRUE(controller->isPanelVisible());

    controller->reloadFromDrag(dropOf({a, b, c}, QPointF(900, 500)));
    ASSERT_TRUE(controller->session());
    EXPECT_EQ(controller->session()->files().size(), 3);
    EXPECT_EQ(controller->view().sourceLabel(), QStringLiteral("3 FILES"));
    EXPECT_EQ(controller->currentKind(), WheelKind::convert);

    // The same files again change nothing.
    WheelSession* session = controller->session();
    controller->reloadFromDrag(dropOf({c, b, a}, QPointF(900, 500)));
    EXPECT_EQ(controller->session(), session);

    // A drop of promises hands the receivers and the placeholders on.
    controller->closeWheel(false);
    controller->dragBegan({}, {promised});
    controller->requestWheel(WheelKind::convert);
    WheelDrop drop = dropOf({}, QPointF(5, 6));
    drop.promises.append(nullptr);
    controller->performChoice(segment(0), drop);
    ASSERT_EQ(dispatched.size(), 1);
    EXPECT_EQ(dispatched[0].files, (QList<QUrl>{promised.url}));
    EXPECT_EQ(dispatched[0].promises, 1);
}

TEST_F(WheelControllerTest, TheWheelOpensOnWhatNamesTellAndTakesWhatInspectionFinds)
{
    const QUrl song = QUrl::fromLocalFile(QStringLiteral("/tmp/wheel/song.mp4"));
    int described = 0;
    services.describeByName = [&](const QUrl& url) -> std::optional<FileInfo> {
        ++described;
        // A name without an extension tells nothing: such a file is inspected at once.
        if (!url.fileName().contains(QLatin1Char('.')))
            return std::nullopt;
        FileInfo file = infoFor(url);
        if (url == song)
            file.category = FileCategory::video;
        return file;
    };
    services.inspect = [&](const QUrl& url) {
        ++inspected;
        FileInfo file = infoFor(url);
        if (url == song)
            file.category = FileCategory::audio; // only sound inside
        file.size = 7;
        return file;
    };
    // Two entries while a video is among the files, one for sound.
    services.contentSource = [](const QList<FileInfo>& files, WheelKind kind) {
        const bool sound = std::any_of(files.begin(), files.end(),
                                       [](const FileInfo& f) { return f.category == FileCategory::audio; });
        return WheelContent::build(kind, entries(kind, sound ? 1 : 2), std::nullopt);
    };
    QList<QUrl> received;
    services.dispatch = [&](const WheelEntry&, const QList<FileInfo>& files, const WheelController::Promises&,
                            bool, QPointF) {
        for (const FileInfo& file : files) {
            EXPECT_EQ(file.size, 7) << "dispatched before inspection";
            received.append(file.url);
        }
    };
    controller = std::make_unique<WheelController>(services);
    const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/tmp/wheel/Folder"));

    controller->dragBegan({song, a, folder}, {});
    controller->requestWheel(WheelKind::convert);
    finishInspection();
    // Open on the names, the nameless one inspected already, the others still to come.
    ASSERT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(described, 3);
    EXPECT_EQ(inspected, 1);
    EXPECT_EQ(controller->view().content()->segments.size(), 2);
    ASSERT_EQ(background.size(), 1);

    finishInspection();
    EXPECT_EQ(inspected, 3);
    EXPECT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->view().content()->segments.size(), 1);
    EXPECT_EQ(controller->session()->files().first().category, FileCategory::audio);
    EXPECT_EQ(controller->sessionToken(), 1);

    // A drag that ended before the inspection came back keeps nothing of it.
    controller->dragEnded();
    advance(1000);
    controller->dragBegan({song}, {});
    controller->requestWheel(WheelKind::convert);
    finishInspection();
    ASSERT_TRUE(controller->isPanelVisible());
    controller->dragEnded();
    advance(1000);
    EXPECT_FALSE(controller->isPanelVisible());
    finishInspection();
    EXPECT_FALSE(controller->session());

    // A choice made before the inspection came back dispatches the files inspected.
    controller->dragBegan({song, a}, {});
    controller->requestWheel(WheelKind::convert);
    finishInspection();
    ASSERT_TRUE(controller->isPanelVisible());
    const int before = inspected;
    controller->performChoice(segment(0), std::nullopt);
    EXPECT_EQ(received, QList<QUrl>({song, a}));
    EXPECT_EQ(inspected, before + 2);
    finishInspection();
    EXPECT_FALSE(controller->session());
}

TEST_F(WheelControllerTest, PreparingAtLaunchLeavesNothingBehindAndNeverTouchesAShownWheel)
{
    controller->prepare();
    EXPECT_TRUE(controller->panel().testAttribute(Qt::WA_WState_Created));
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_FALSE(controller->session());
    EXPECT_FALSE(controller->view().content());
    EXPECT_TRUE(controller->view().sourceLabel().isEmpty());

    // The first drag after it opens as any other.
    controller->dragBegan({a, c}, {});
    controller->requestWheel(WheelKind::tools);
    finishInspection();
    ASSERT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->view().content()->kind, WheelKind::tools);
    EXPECT_EQ(controller->view().sourceLabel(), QStringLiteral("2 FILES"));

    controller->prepare();
    EXPECT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(controller->view().content()->kind, WheelKind::tools);
    EXPECT_EQ(controller->view().sourceLabel(), QStringLiteral("2 FILES"));
}

TEST_F(WheelControllerTest, AWheelOpenedOnKindsDispatchesWhatAWheelOpenedOnEveryFileDoes)
{
    const QUrl upper = QUrl::fromLocalFile(QStringLiteral("/tmp/wheel/B.JPG"));
    const QUrl bare = QUrl::fromLocalFile(QStringLiteral("/tmp/wheel/README"));
    const QList<QUrl> urls{a, upper, bare, b, c};
    services.inspect = [this](const QUrl& url) {
        ++inspected;
        FileInfo file = infoFor(url);
        file.size = 7;
        return file;
    };
    // The registry decides, from the kinds.
    services.contentSource = {};
    QList<QList<FileInfo>> received;
    services.dispatch = [&](const WheelEntry&, const QList<FileInfo>& files, const WheelController::Promises&,
                            bool, QPointF) { received.append(files); };
    const auto choose = [&](bool summarized, bool refined) {
        WheelController::Services own = services;
        if (summarized) {
            own.summarize = [inspect = services.inspect](const QList<QUrl>& list) {
                return SelectionSummary::fromNames(list, inspect);
            };
            // Never taken here: one name tells nothing.
            own.summarizeByNames = [](const QList<QUrl>& list) { return SelectionSummary::fromNamesAlone(list); };
        } else {
            own.describeByName = [](const QUrl& url) -> std::optional<FileInfo> {
                FileInfo file = fileInfoFromName(url);
                return file.format ? std::optional(file) : std::nullopt;
            };
        }
        controller = std::make_unique<WheelController>(own);
        background.clear();
        inspected = 0;
        controller->dragBegan(urls, {});
        controller->requestWheel(WheelKind::convert);
        finishInspection();
        EXPECT_TRUE(controller->isPanelVisible());
        // Only the name that tells nothing was read from the disk.
        EXPECT_EQ(inspected, 1);
        EXPECT_EQ(controller->session()->fileCount(), urls.size());
        EXPECT_EQ(controller->session()->selection().hasFiles(), !summarized);
        EXPECT_EQ(controller->view().sourceLabel(), QStringLiteral("5 FILES"));
        const WheelContent shown = *controller->view().content();
        if (refined)
            finishInspection();
        EXPECT_FALSE(shown.segments.isEmpty());
        const QJsonObject offer = shown.toJson();
        if (!shown.segments.isEmpty())
            controller->performChoice(segment(0), std::nullopt);
        return offer;
    };

    for (const bool refined : {false, true}) {
        received.clear();
        const QJsonObject byKinds = choose(true, refined);
        const QJsonObject byFiles = choose(false, refined);
        EXPECT_EQ(byKinds, byFiles);
        ASSERT_EQ(received.size(), 2);
        EXPECT_EQ(received[0], received[1]);
        ASSERT_EQ(received[0].size(), urls.size());
        for (qsizetype i = 0; i < urls.size(); ++i) {
            EXPECT_EQ(received[0][i].url, urls[i]);
            EXPECT_EQ(received[0][i].size, 7) << "dispatched before inspection";
        }
    }
}

TEST_F(WheelControllerTest, NamesThatAllTellTheirKindOpenTheWheelWithoutWaitingForAnotherThread)
{
    services.contentSource = {};
    services.summarizeByNames = [](const QList<QUrl>& list) { return SelectionSummary::fromNamesAlone(list); };
    controller = std::make_unique<WheelController>(services);
    controller->dragBegan({a, b, c}, {});
    ASSERT_TRUE(controller->session());
    // Opens on the spot; only the full reading waits.
    controller->requestWheel(WheelKind::convert);
    ASSERT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(inspected, 0);
    EXPECT_EQ(controller->session()->fileCount(), 3);
    EXPECT_EQ(controller->view().sourceLabel(), QStringLiteral("3 FILES"));
    EXPECT_EQ(background.size(), 1);
    finishInspection();
    EXPECT_EQ(inspected, 3);
    EXPECT_EQ(controller->session()->files().first().name, QStringLiteral("a.jpg"));

    // A drag that ended before the full reading keeps nothing of it.
    controller->dragEnded();
    advance(1000);
    controller->dragBegan({a, c}, {});
    ASSERT_EQ(background.size(), 1);
    controller->dragEnded();
    finishInspection();
    EXPECT_FALSE(controller->session());
}
