#include "DragSourceProcess.h"
#include "X11TestDriver.h"

#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11DragSource.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"
#include "wheel/DragWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace qv;
using namespace qv::test;

namespace {

// Generous: these run beside other tests on small machines.
constexpr int timeoutMs = 15000;

bool waitFor(const std::function<bool()>& condition, int limitMs = timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

class DragWatcherX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        registerDefaultSettings(store);
        auto owned = std::make_unique<X11DragSource>();
        // The drag source is a program of the test's own, slow to answer on a loaded machine.
        owned->setReadDeadline(timeoutMs);
        source = owned.get();
        watcher = std::make_unique<DragWatcher>(std::move(owned), store, Clock::system());
        QObject::connect(watcher.get(), &DragWatcher::dragBegan,
                         [this](const QList<QUrl>& urls, const QList<FileInfo>&) {
                             began = urls;
                             events << QStringLiteral("began");
                         });
        QObject::connect(watcher.get(), &DragWatcher::wheelRequested, [this](WheelKind kind) {
            events << QStringLiteral("wheel:") + toString(kind);
        });
        QObject::connect(watcher.get(), &DragWatcher::dragEnded,
                         [this] { events << QStringLiteral("ended"); });
        QObject::connect(source, &DragEventSource::dragOfferRead, [this] { ++reads; });
        QObject::connect(source, &DragEventSource::dragSelectionChanged,
                         [this] { events << QStringLiteral("(selection)"); });
        QObject::connect(source, &DragEventSource::primaryButtonPressed,
                         [this] { events << QStringLiteral("(press)"); });
        QObject::connect(source, &DragEventSource::primaryButtonReleased,
                         [this] { events << QStringLiteral("(release)"); });
        QObject::connect(source, &DragEventSource::modifiersChanged,
                         [this](quint32 flags) {
                             modifierChanges << flags;
                             events << QStringLiteral("(modifiers %1)").arg(flags, 0, 16);
                         });
        QObject::connect(source, &DragEventSource::keyPressed,
                         [this](int code) { events << QStringLiteral("(key %1)").arg(code); });
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

    bool has(const QString& event) const { return events.contains(event); }
    // Without the back end's own events, which are there to explain a failure.
    QStringList watcherEvents() const
    {
        QStringList list = events;
        list.removeIf([](const QString& e) { return e.startsWith(QLatin1Char('(')); });
        return list;
    }
    std::string trace() const { return events.join(QLatin1Char(' ')).toStdString(); }

    SettingsStore store{QString()};
    X11DragSource* source = nullptr;
    std::unique_ptr<DragWatcher> watcher;
    X11InputDriver input;
    QStringList events;
    QList<QUrl> began;
    int reads = 0;
    QList<quint32> modifierChanges;
};

} // namespace

TEST_F(DragWatcherX11, QtFileDragWithTriggerTapsAndATextDrag)
{
    QTemporaryDir dir;
    const QUrl a = QUrl::fromLocalFile(writeFile(dir.filePath(QStringLiteral("a.txt"))));
    const QUrl b = QUrl::fromLocalFile(writeFile(dir.filePath(QStringLiteral("b c é.txt"))));

    DragSourceProcess files({QStringLiteral("files"), a.toString(QUrl::FullyEncoded),
                             b.toString(QUrl::FullyEncoded)});
    ASSERT_TRUE(files.isReady());

    pressAndDrag(files.centre);
    ASSERT_TRUE(waitFor([this] { return has("began"); })) << trace();
    EXPECT_EQ(began, (QList<QUrl>{a, b}));
    input.tap("Shift_L");
    ASSERT_TRUE(waitFor([this] { return has("wheel:convert"); })) << trace();
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("ended"); })) << trace();
    EXPECT_EQ(watcherEvents(), (QStringList{"began", "wheel:convert", "ended"}));
    ASSERT_TRUE(waitFor([&] { return files.dragsEnded() == 1; }));

    // Qt sources keep the selection after a drag; the next drag from them is seen all the same.
    events.clear();
    pressAndDrag(files.centre + QPoint(-40, -40));
    ASSERT_TRUE(waitFor([this] { return has("began"); })) << trace();
    input.tap("Super_L");
    ASSERT_TRUE(waitFor([this] { return has("wheel:tools"); })) << trace();
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("ended"); })) << trace();
    EXPECT_EQ(watcherEvents(), (QStringList{"began", "wheel:tools", "ended"}));
    ASSERT_TRUE(waitFor([&] { return files.dragsEnded() == 2; }));

    // Text only: read, then nothing.
    events.clear();
    reads = 0;
    DragSourceProcess text({QStringLiteral("text"), QStringLiteral("just words")});
    ASSERT_TRUE(text.isReady());
    pressAndDrag(text.centre);
    ASSERT_TRUE(waitFor([this] { return reads == 1; }));
    modifierChanges.clear();
    input.tap("Shift_L");
    ASSERT_TRUE(waitFor([this] { return modifierChanges.size() == 2; }));
    EXPECT_EQ(modifierChanges, (QList<quint32>{ModifierFlag::shift, 0}));
    waitFor([] { return false; }, 10 * DragWatcher::tapWindowMs);
    input.button(false);
    ASSERT_TRUE(waitFor([&] { return text.dragsEnded() == 1; }));
    EXPECT_TRUE(watcherEvents().isEmpty()) << trace();
}

TEST_F(DragWatcherX11, LongListsArriveInIncrParts)
{
    QByteArray body;
    QList<QUrl> expected;
    for (int i = 0; i < 4000; ++i) {
        const QUrl url = QUrl::fromLocalFile(
            QStringLiteral("/tmp/quorvenda drag test/a rather long folder name/file %1.jpg").arg(i));
        expected.append(url);
        body += url.toEncoded() + "\r\n";
    }
    ASSERT_GT(body.size(), 256 * 1024);
    FakeXdndOwner owner(body, 64 * 1024);
    ASSERT_TRUE(owner.isOpen());

    input.moveTo(1800, 1000);
    input.button(true);
    owner.takeSelection();
    ASSERT_TRUE(waitFor([this] { return has("began"); })) << trace();
    EXPECT_EQ(began, expected);
    EXPECT_EQ(owner.answered(), 1);
    EXPECT_EQ(owner.refused(), 0);
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("ended"); })) << trace();

    // The selection taken while no button is down is not a drag.
    events.clear();
    owner.takeSelection();
    waitFor([] { return false; }, 200);
    EXPECT_TRUE(watcherEvents().isEmpty()) << trace();
    EXPECT_EQ(owner.answered(), 1);
}

TEST_F(DragWatcherX11, AnIncrOwnerThatNeverStopsIsCutOffAtTheSizeLimit)
{
    LogCapture log;
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/quorvenda drag test/again.jpg"));
    const QByteArray line = file.toEncoded() + "\r\n";
    QByteArray body;
    while (body.size() < 3 * 1024 * 1024)
        body += line;
    constexpr int part = 512 * 1024;
    FakeXdndOwner endless(body, part);
    ASSERT_TRUE(endless.isOpen());
    endless.sendPartsForever();

    input.moveTo(1800, 1000);
    input.button(true);
    endless.takeSelection();
    ASSERT_TRUE(waitFor([this] { return reads == 1; })) << trace();
    EXPECT_TRUE(log.contains("quorvenda.drag", "The drag source's file list is too long"));
    // The owner got as far as the limit and no further: it sends a part only when the last was
    // taken, so what it sent bounds what was held.
    const qint64 sent = endless.bytesSent();
    EXPECT_GT(sent, X11DragSource::maxListBytes);
    EXPECT_LE(sent, X11DragSource::maxListBytes + 2 * part);
    waitFor([] { return false; }, 300);
    EXPECT_LE(endless.bytesSent(), X11DragSource::maxListBytes + 2 * part);
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("(release)"); })) << trace();
    EXPECT_TRUE(watcherEvents().isEmpty()) << trace();

    // The next drag is read in full, whatever the dropped owner still does.
    events.clear();
    const QUrl nextFile = QUrl::fromLocalFile(QStringLiteral("/tmp/quorvenda drag test/next.jpg"));
    FakeXdndOwner next(nextFile.toEncoded() + "\r\n");
    ASSERT_TRUE(next.isOpen());
    input.button(true);
    next.takeSelection();
    ASSERT_TRUE(waitFor([this] { return has("began"); })) << trace();
    EXPECT_EQ(began, QList<QUrl>{nextFile});
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("ended"); })) << trace();
}

TEST_F(DragWatcherX11, AnIncrOwnerThatNeverStopsIsCutOffAtTheDeadline)
{
    LogCapture log;
    const QByteArray body(4096, 'x');
    FakeXdndOwner endless(body, 1024);
    ASSERT_TRUE(endless.isOpen());
    // Small parts, slowly: far from the size limit, and never a long silence.
    endless.sendPartsForever(20);
    source->setReadDeadline(1000);

    input.moveTo(1800, 1000);
    input.button(true);
    endless.takeSelection();
    ASSERT_TRUE(waitFor([this] { return reads == 1; })) << trace();
    EXPECT_TRUE(
        log.contains("quorvenda.drag", "The drag source did not send its file list in time"));
    EXPECT_GT(endless.bytesSent(), 4096);
    EXPECT_LT(endless.bytesSent(), X11DragSource::maxListBytes);
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("(release)"); })) << trace();
    EXPECT_TRUE(watcherEvents().isEmpty()) << trace();
}

TEST_F(DragWatcherX11, KeysAreHeardOnlyWhileADragRuns)
{
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/quorvenda drag test/keys.jpg"));
    FakeXdndOwner owner(file.toEncoded() + "\r\n");
    ASSERT_TRUE(owner.isOpen());
    const auto keysHeard = [this] {
        return events.filter(QStringLiteral("(key ")).size() + modifierChanges.size();
    };

    // Typing with no drag, or with the button down but nothing dragged, is not listened to.
    // Each later event arrives after these would have.
    input.tap("Shift_L");
    input.tap("Tab");
    input.moveTo(1800, 1000);
    input.button(true);
    ASSERT_TRUE(waitFor([this] { return has("(press)"); })) << trace();
    input.tap("Shift_L");
    input.tap("Tab");
    input.key("Shift_L", true);
    owner.takeSelection();
    ASSERT_TRUE(waitFor([this] { return has("began"); })) << trace();
    EXPECT_EQ(keysHeard(), 0) << trace();

    // During the drag: the release of a key held since before, taps and keys.
    input.key("Shift_L", false);
    input.tap("Super_L");
    input.tap("Tab");
    ASSERT_TRUE(waitFor([this] { return has("wheel:tools") && has("(key 48)"); })) << trace();
    EXPECT_EQ(modifierChanges, (QList<quint32>{0, ModifierFlag::command, 0}));
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("ended"); })) << trace();

    // Once the button is up, not any more.
    events.clear();
    modifierChanges.clear();
    input.tap("Shift_L");
    input.tap("Tab");
    input.button(true);
    ASSERT_TRUE(waitFor([this] { return has("(press)"); })) << trace();
    input.button(false);
    EXPECT_EQ(keysHeard(), 0) << trace();
}

// A drag of our own (the welcome practice) is told before Qt takes the drag selection, and the
// server tells us of that later still: a tap right after the drag is told is heard.
TEST_F(DragWatcherX11, AnOwnDragHearsATapMadeAsItBegins)
{
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/quorvenda drag test/own.jpg"));
    input.moveTo(1800, 1000);
    input.button(true);
    ASSERT_TRUE(waitFor([this] { return has("(press)"); })) << trace();
    watcher->beginFileDrag({file}, {});
    ASSERT_TRUE(has("began")) << trace();
    // No program takes the drag selection here at all.
    input.tap("Shift_L");
    ASSERT_TRUE(waitFor([this] { return has("wheel:convert"); })) << trace();
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("ended"); })) << trace();
    EXPECT_EQ(watcherEvents(), (QStringList{"began", "wheel:convert", "ended"}));
}

TEST_F(DragWatcherX11, FilesAreReadWhileThePointerKeepsMoving)
{
    QTemporaryDir dir;
    const QUrl a = QUrl::fromLocalFile(writeFile(dir.filePath(QStringLiteral("a.txt"))));
    DragSourceProcess files({QStringLiteral("files"), a.toString(QUrl::FullyEncoded)});
    ASSERT_TRUE(files.isReady());

    // A Qt source answers only for the time of the last motion it saw, which moves on with
    // every step the user takes while the list is read.
    pressAndDrag(files.centre);
    for (int step = 1; step <= 40; ++step) {
        input.moveTo(files.centre.x() + 48 + 4 * step, files.centre.y() + 24 + step);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(waitFor([this] { return has("began"); })) << trace();
    EXPECT_EQ(began, QList<QUrl>{a});
    input.button(false);
    ASSERT_TRUE(waitFor([this] { return has("ended"); })) << trace();
    ASSERT_TRUE(waitFor([&] { return files.dragsEnded() == 1; }));
}
