#include "DragSourceProcess.h"
#include "X11TestDriver.h"

#include "model/Clock.h"
#include "model/files/NativeFileName.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11DragSource.h"
#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"
#include "support/WindowManager.h"
#include "wheel/DragWatcher.h"
#include "wheel/ui/WheelController.h"
#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdio>

using namespace qv;
using namespace qv::test;

namespace {

// Generous: this runs beside other tests on small machines.
constexpr int timeoutMs = 15000;

// The drag source program, with a window to drag from.
struct Dispatched {
    QString entry;
    QList<QUrl> files;
    QPointF point;
};

class WheelControllerX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        QV_REQUIRE_X11();
        registerDefaultSettings(store);
        auto source = std::make_unique<X11DragSource>();
        // The drag source is a program of the test's own, slow to answer on a loaded machine.
        source->setReadDeadline(timeoutMs);
        watcher = std::make_unique<DragWatcher>(std::move(source), store, Clock::system());
        WheelController::Services services = WheelController::Services::system();
        services.settings = &store;
        services.contentSource = [](const QList<FileInfo>&, WheelKind kind) {
            QList<WheelEntry> list;
            for (int i = 0; i < 6; ++i)
                list.append(WheelEntry{QStringLiteral("%1.%2").arg(toString(kind)).arg(i),
                                       QStringLiteral("Entry %1").arg(i), QStringLiteral("crop"),
                                       kind, {}});
            return WheelContent::build(kind, list, std::nullopt);
        };
        services.refreshExternalApps = {};
        services.nudgePointer = [this] { watcher->nudgePointer(); };
        services.dispatch = [this](const WheelEntry& entry, const QList<FileInfo>& files,
                                   const WheelController::Promises&, bool, QPointF point) {
            QList<QUrl> urls;
            for (const FileInfo& file : files)
                urls.append(file.url);
            dispatched.append({entry.id, urls, point});
        };
        controller = std::make_unique<WheelController>(services);
        controller->attach(*watcher);
        QObject::connect(controller.get(), &WheelController::wheelOpened, [this] { ++opens; });
        watcher->start();
        ASSERT_TRUE(watcher->isAvailable());
        ASSERT_TRUE(input.isOpen());
    }

    void TearDown() override
    {
        if (input.isOpen())
            input.releaseAll();
    }

    void pressAndDrag(QPoint from) { input.pressAndDrag(from.x(), from.y()); }

    // Moves in small steps, so that the drag source sees each position.
    void glideTo(QPoint from, QPoint to)
    {
        for (int step = 1; step <= 10; ++step) {
            const QPoint at = from + (to - from) * step / 10;
            input.moveTo(at.x(), at.y());
            waitFor([] { return false; }, 15);
        }
    }

    SettingsStore store{QString()};
    std::unique_ptr<DragWatcher> watcher;
    std::unique_ptr<WheelController> controller;
    X11InputDriver input;
    QList<Dispatched> dispatched;
    int opens = 0;
};

} // namespace

TEST_F(WheelControllerX11, ShiftDuringAFileDragOpensTheWheelUnderThePointerAndADropRunsTheSegment)
{
    QTemporaryDir dir;
    const QUrl a = QUrl::fromLocalFile(writeFile(dir.filePath(QStringLiteral("a.jpg"))));
    const QUrl b = QUrl::fromLocalFile(writeFile(dir.filePath(QStringLiteral("b c.jpg"))));
    DragSourceProcess source({QStringLiteral("files"), a.toString(QUrl::FullyEncoded),
                              b.toString(QUrl::FullyEncoded)});
    ASSERT_TRUE(source.isReady());

    pressAndDrag(source.centre);
    const QPoint start = source.centre + QPoint(48, 24);
    const QPoint where(900, 500);
    glideTo(start, where);
    ASSERT_TRUE(waitFor([this] { return controller->session() != nullptr; }, timeoutMs));
    input.tap("Shift_L");
    ASSERT_TRUE(waitFor([this] { return controller->isPanelVisible(); }, timeoutMs));
    EXPECT_EQ(controller->currentKind(), WheelKind::convert);
    const double height = ScreenProvider::system().primaryHeight();
    EXPECT_EQ(controller->wheelCenter(), flipY(QPointF(where), height));
    EXPECT_TRUE(controller->panel().geometry().contains(where));
    ASSERT_TRUE(waitFor([this] {
        return controller->panel().windowHandle() && controller->panel().windowHandle()->isExposed();
    }, timeoutMs));

    if (const QByteArray path = qgetenv("QUORVENDA_WHEEL_SCREENSHOT"); !path.isEmpty()) {
        waitFor([] { return false; }, 400);
        QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(path));
    }

    // Onto segment 2, and let go.
    WheelView& view = controller->view();
    const QPoint target = view.mapToGlobal(view.toWidget(view.wheelGeometry().labelCenter(2))).toPoint();
    glideTo(where, target);
    ASSERT_TRUE(waitFor([&] { return view.target() == WheelTarget::inner(2); }, timeoutMs));
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return !dispatched.isEmpty(); }, timeoutMs));
    ASSERT_EQ(dispatched.size(), 1);
    EXPECT_EQ(dispatched[0].entry, QStringLiteral("convert.2"));
    EXPECT_EQ(dispatched[0].files, (QList<QUrl>{a, b}));
    // Where the source last told the wheel the pointer was: a source slowed down by a loaded
    // machine may drop one step of the glide behind.
    const QPointF expected = flipY(QPointF(target), height);
    const double step = QPointF(target - where).manhattanLength() / 10;
    EXPECT_LE((dispatched[0].point - expected).manhattanLength(), step + 2.0);
    ASSERT_TRUE(waitFor([&] { return source.dragsEnded() == 1; }, timeoutMs));
    ASSERT_TRUE(waitFor([this] { return !controller->isPanelVisible(); }, timeoutMs));
    EXPECT_FALSE(controller->session());
    EXPECT_EQ(opens, 1);
}

// "x\xff.jpg" beside its twin "x\xef\xbf\xbd.jpg": the drag's list carries the first as "%FF",
// which must reach the wheel as that name, never as the twin's.
TEST_F(WheelControllerX11, ADraggedNameThatIsNotUtf8StaysItsOwn)
{
    QTemporaryDir dir;
    const QByteArray odd = QFile::encodeName(dir.path()) + "/x\xff.jpg";
    FILE* made = std::fopen(odd.constData(), "wb");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    const QUrl twin = QUrl::fromLocalFile(writeFile(dir.filePath(QString::fromUtf8("x\xef\xbf\xbd.jpg"))));
    const QUrl oddUrl = fileUrlForNativePath(odd);
    DragSourceProcess source({QStringLiteral("files"), QString::fromLatin1(oddUrl.toEncoded()),
                              QString::fromLatin1(twin.toEncoded())});
    ASSERT_TRUE(source.isReady());

    pressAndDrag(source.centre);
    glideTo(source.centre + QPoint(48, 24), QPoint(900, 500));
    ASSERT_TRUE(waitFor([this] { return controller->session() != nullptr; }, timeoutMs));
    input.tap("Shift_L");
    ASSERT_TRUE(waitFor([this] { return controller->isPanelVisible(); }, timeoutMs));
    const QList<QUrl> urls = controller->session()->urls(true);
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(urls[0], oddUrl);
    EXPECT_FALSE(fileNameIsReadable(urls[0]));
    EXPECT_EQ(urls[1], twin);
    input.tap("Escape");
    input.button(false);
    ASSERT_TRUE(waitFor([&] { return source.dragsEnded() == 1; }, timeoutMs));
    ASSERT_TRUE(waitFor([this] { return !controller->isPanelVisible(); }, timeoutMs));
}

TEST_F(WheelControllerX11, ATextDragOpensNoWheel)
{
    DragSourceProcess text({QStringLiteral("text"), QStringLiteral("just words")});
    ASSERT_TRUE(text.isReady());
    pressAndDrag(text.centre);
    glideTo(text.centre + QPoint(48, 24), QPoint(900, 500));
    input.tap("Shift_L");
    // Time for a wheel that should not come.
    waitFor([] { return false; }, 300);
    input.button(false);
    ASSERT_TRUE(waitFor([&] { return text.dragsEnded() == 1; }, timeoutMs));
    waitFor([] { return false; }, 100);
    EXPECT_EQ(opens, 0);
    EXPECT_FALSE(controller->isPanelVisible());
    EXPECT_FALSE(controller->session());
    EXPECT_TRUE(dispatched.isEmpty());
}

// Escape makes the drag source give its drag up while the button stays down: the wheel goes
// with the drag, not when the button comes up, and nothing runs.
TEST_F(WheelControllerX11, EscapeDuringTheDragClosesTheWheelWithTheDrag)
{
    // The source has the keyboard once clicked, as under a user's window manager.
    WindowManager manager;
    if (!manager.whyNot().isEmpty())
        GTEST_SKIP() << manager.whyNot().toStdString();
    QTemporaryDir dir;
    const QUrl a = QUrl::fromLocalFile(writeFile(dir.filePath(QStringLiteral("a.jpg"))));
    DragSourceProcess source({QStringLiteral("files"), a.toString(QUrl::FullyEncoded)});
    ASSERT_TRUE(source.isReady());

    pressAndDrag(source.centre);
    const QPoint where(900, 500);
    glideTo(source.centre + QPoint(48, 24), where);
    ASSERT_TRUE(waitFor([this] { return controller->session() != nullptr; }, timeoutMs));
    input.tap("Shift_L");
    ASSERT_TRUE(waitFor([this] { return controller->isPanelVisible(); }, timeoutMs));
    input.tap("Escape");
    ASSERT_TRUE(waitFor([&] { return source.dragsEnded() == 1; }, timeoutMs));
    ASSERT_TRUE(waitFor([this] { return !controller->isPanelVisible(); }, timeoutMs));
    // Still held: the drag ended without it.
    EXPECT_TRUE(watcher->isStarted());
    EXPECT_FALSE(watcher->isFileDragActive());
    EXPECT_FALSE(controller->session());
    input.button(false);
    waitFor([] { return false; }, 200);
    EXPECT_TRUE(dispatched.isEmpty());
    EXPECT_EQ(opens, 1);
}
