#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/FakeDragSource.h"
#include "support/LogCapture.h"
#include "wheel/DragWatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

using namespace qv;
using qv::test::FakeDragSource;

namespace {

const QUrl fileA = QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"));
const QUrl fileB = QUrl::fromLocalFile(QStringLiteral("/tmp/b b.pdf"));

// Runs the event loop until the condition holds or the time is up.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Long enough for the tap window to close several times over.
void settle()
{
    waitFor([] { return false; }, 10 * DragWatcher::tapWindowMs);
}

class DragWatcherTest : public ::testing::Test {
protected:
    DragWatcherTest()
    {
        registerDefaultSettings(store);
        auto fake = std::make_unique<FakeDragSource>();
        source = fake.get();
        watcher = std::make_unique<DragWatcher>(std::move(fake), store, clock);
        QObject::connect(watcher.get(), &DragWatcher::dragBegan,
                         [this](const QList<QUrl>& urls, const QList<FileInfo>& promised) {
                             began.append(urls);
                             promises = promised;
                             events << QStringLiteral("began:%1").arg(urls.size());
                         });
        QObject::connect(watcher.get(), &DragWatcher::wheelRequested, [this](WheelKind kind) {
            events << QStringLiteral("wheel:") + toString(kind);
        });
        QObject::connect(watcher.get(), &DragWatcher::dragEnded,
                         [this] { events << QStringLiteral("ended"); });
        QObject::connect(watcher.get(), &DragWatcher::keyPressedWhileDragging,
                         [this](int code) { events << QStringLiteral("key:%1").arg(code); });
        watcher->start();
    }

    // A press and a drag whose owner offers these URIs.
    void dragOf(const QList<QUrl>& uris)
    {
        source->press();
        clock.advance(200);
        source->takeSelection();
        source->answer(uris);
    }

    void tap(quint32 flag)
    {
        const quint32 held = source->modifiers;
        source->setModifiers(held | flag);
        source->setModifiers(held);
    }

    SettingsStore store{QString()};
    test::FakeClock clock;
    FakeDragSource* source = nullptr;
    std::unique_ptr<DragWatcher> watcher;
    QStringList events;
    QList<QUrl> began;
    QList<FileInfo> promises;
};

} // namespace

TEST(DragWatcherTriggers, ComeFromTheSettingsInWheelOrder)
{
    SettingsStore store{QString()};
    registerDefaultSettings(store);
    using T = DragWatcher::Trigger;
    EXPECT_EQ(DragWatcher::readTriggers(store),
              (QList<T>{{ModifierFlag::shift, WheelKind::convert},
                        {ModifierFlag::command, WheelKind::tools},
                        {ModifierFlag::control, WheelKind::actions}}));

    store.setValue(SettingsKey::triggerConvert, QStringLiteral("off"));
    store.setValue(SettingsKey::triggerTools, QStringLiteral("hyper"));
    store.setValue(SettingsKey::triggerActions, QStringLiteral("option"));
    EXPECT_EQ(DragWatcher::readTriggers(store),
              (QList<T>{{ModifierFlag::option, WheelKind::actions}}));

    // A modifier named twice opens the wheel that comes first.
    store.setValue(SettingsKey::triggerConvert, QStringLiteral("control"));
    store.setValue(SettingsKey::triggerActions, QStringLiteral("control"));
    store.remove(SettingsKey::triggerTools);
    const QList<T> triggers = DragWatcher::readTriggers(store);
    ASSERT_GE(triggers.size(), 1);
    EXPECT_EQ(triggers.first(), (T{ModifierFlag::control, WheelKind::convert}));
}

TEST_F(DragWatcherTest, FileDragAndTapOfEachTriggerOpensItsWheel)
{
    test::LogCapture log;
    const QList<std::pair<quint32, QString>> taps = {{ModifierFlag::shift, "wheel:convert"},
                                                     {ModifierFlag::command, "wheel:tools"},
                                                     {ModifierFlag::control, "wheel:actions"}};
    for (const auto& [flag, expected] : taps) {
        events.clear();
        began.clear();
        // Other schemes in the list are not files.
        dragOf({fileA, QUrl(QStringLiteral("https://example.com/x.png")), fileB});
        EXPECT_TRUE(watcher->isFileDragActive());
        EXPECT_EQ(began, (QList<QUrl>{fileA, fileB}));
        EXPECT_TRUE(promises.isEmpty());
        tap(flag);
        settle();
        source->release();
        EXPECT_EQ(events, (QStringList{"began:2", expected, "ended"}));
        EXPECT_FALSE(watcher->isFileDragActive());
    }
    EXPECT_TRUE(log.contains("quorvenda.drag", "File drag: 2 URLs, 0 promises"));
    EXPECT_TRUE(log.contains("quorvenda.drag", "Modifier tap → tools"));
}

TEST_F(DragWatcherTest, ADwellOpensTheFirstWheelThatHasATrigger)
{
    // Outside a file drag a dwell means nothing.
    source->dwell();
    EXPECT_TRUE(events.isEmpty());

    dragOf({fileA});
    source->dwell();
    source->release();
    store.setValue(SettingsKey::triggerConvert, QStringLiteral("off"));
    dragOf({fileA});
    source->dwell();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert", "ended", "began:1", "wheel:tools", "ended"}));

    // With every wheel's trigger off nothing opens them.
    events.clear();
    store.setValue(SettingsKey::triggerTools, QStringLiteral("off"));
    store.setValue(SettingsKey::triggerActions, QStringLiteral("off"));
    dragOf({fileA});
    source->dwell();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:1", "ended"}));
}

// Where no key reaches the drag, resting on moves through every wheel; a tap is the user's
// choice, and no rest after it changes the wheel they are reading.
TEST_F(DragWatcherTest, FurtherRestsMoveThroughTheWheelsUntilATapChooses)
{
    dragOf({fileA});
    for (int i = 0; i < 4; ++i)
        source->dwell();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert", "wheel:tools", "wheel:actions", "wheel:convert",
                                   "ended"}));

    events.clear();
    dragOf({fileA});
    tap(ModifierFlag::control);
    settle();
    source->dwell();
    source->dwell();
    settle();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:actions", "ended"}));

    // A rest first, then a tap: the tap holds.
    events.clear();
    dragOf({fileA});
    source->dwell();
    tap(ModifierFlag::command);
    settle();
    source->dwell();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert", "wheel:tools", "ended"}));

    // The next drag starts again from the first wheel, with the wheels whose trigger is off left out.
    events.clear();
    store.setValue(SettingsKey::triggerTools, QStringLiteral("off"));
    dragOf({fileA});
    source->dwell();
    source->dwell();
    source->dwell();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert", "wheel:actions", "wheel:convert", "ended"}));
}

TEST(DragWatcherRests, NameTheWheelAFurtherRestBrings)
{
    using T = DragWatcher::Trigger;
    const QList<T> three{{ModifierFlag::shift, WheelKind::convert},
                         {ModifierFlag::command, WheelKind::tools},
                         {ModifierFlag::control, WheelKind::actions}};
    EXPECT_EQ(DragWatcher::wheelAfterRest(three, WheelKind::convert), WheelKind::tools);
    EXPECT_EQ(DragWatcher::wheelAfterRest(three, WheelKind::actions), WheelKind::convert);
    const QList<T> one{{ModifierFlag::option, WheelKind::tools}};
    EXPECT_EQ(DragWatcher::wheelAfterRest(one, WheelKind::tools), std::nullopt);
    EXPECT_EQ(DragWatcher::wheelAfterRest({}, WheelKind::convert), std::nullopt);
    // A wheel without a trigger (the user turned it off while it showed) leads nowhere.
    EXPECT_EQ(DragWatcher::wheelAfterRest(three.mid(1), WheelKind::convert), std::nullopt);
}

TEST_F(DragWatcherTest, DragsWithoutFilesOrWhilePausedOpenNothing)
{
    // Text, or links only.
    dragOf({});
    tap(ModifierFlag::shift);
    settle();
    source->release();
    dragOf({QUrl(QStringLiteral("https://example.com/"))});
    tap(ModifierFlag::shift);
    settle();
    source->release();
    EXPECT_TRUE(events.isEmpty());

    store.setValue(SettingsKey::paused, true);
    dragOf({fileA});
    EXPECT_FALSE(watcher->isChecking());
    tap(ModifierFlag::shift);
    settle();
    source->release();
    EXPECT_TRUE(events.isEmpty());
    EXPECT_EQ(source->readRequests, 2);

    // Pausing is read at each press.
    store.setValue(SettingsKey::paused, false);
    dragOf({fileA});
    EXPECT_EQ(events, QStringList{"began:1"});
}

TEST_F(DragWatcherTest, HeldModifiersAndSimultaneousTaps)
{
    // Held before the drag was noticed: not a tap, until released and pressed again.
    source->modifiers = ModifierFlag::shift;
    dragOf({fileA});
    source->setModifiers(ModifierFlag::shift | ModifierFlag::option);
    settle();
    EXPECT_EQ(events, QStringList{"began:1"});
    source->setModifiers(0);
    settle();
    source->setModifiers(ModifierFlag::shift);
    settle();
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert"}));

    // Command, then shift: tools, then convert. Releasing opens or closes nothing.
    events.clear();
    source->setModifiers(0);
    settle();
    source->setModifiers(ModifierFlag::command);
    settle();
    source->setModifiers(ModifierFlag::command | ModifierFlag::shift);
    settle();
    source->setModifiers(0);
    settle();
    EXPECT_EQ(events, (QStringList{"wheel:tools", "wheel:convert"}));

    // Pressed together: the first in the wheels' order is the one left open, whichever key
    // came first.
    events.clear();
    source->setModifiers(0);
    settle();
    source->setModifiers(ModifierFlag::command);
    source->setModifiers(ModifierFlag::command | ModifierFlag::control);
    settle();
    EXPECT_EQ(events, QStringList{"wheel:tools"});
    events.clear();
    source->setModifiers(0);
    settle();
    source->setModifiers(ModifierFlag::control);
    source->setModifiers(ModifierFlag::control | ModifierFlag::command);
    settle();
    EXPECT_EQ(events, (QStringList{"wheel:actions", "wheel:tools"}));

    // A setting of "off" means no modifier opens that wheel.
    events.clear();
    source->setModifiers(0);
    settle();
    store.setValue(SettingsKey::triggerConvert, QStringLiteral("off"));
    source->release();
    dragOf({fileA});
    tap(ModifierFlag::shift);
    settle();
    EXPECT_EQ(events, (QStringList{"ended", "began:1"}));
}

TEST_F(DragWatcherTest, ATapOpensOnThePressWithoutWaiting)
{
    dragOf({fileA});
    source->setModifiers(ModifierFlag::shift);
    // No event loop ran: the request went out with the key event itself.
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert"}));
    source->setModifiers(0);
    settle();
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert"}));
}

// Keys pressed together are told by the time between them, not by a timer: an event loop too
// busy to run its timers hears a second key well after the first as a tap of its own.
TEST_F(DragWatcherTest, AKeyTappedWellAfterAnotherOpensItsWheelThoughNoEventLoopRanBetween)
{
    dragOf({fileA});
    source->setModifiers(ModifierFlag::shift);
    source->setModifiers(0);
    QThread::msleep(5 * DragWatcher::tapWindowMs);
    source->setModifiers(ModifierFlag::command);
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:convert", "wheel:tools"}));
}

TEST_F(DragWatcherTest, ATapMadeWhileTheFilesAreReadOpensOnceTheyArrive)
{
    source->press();
    clock.advance(200);
    source->takeSelection();
    tap(ModifierFlag::command);
    settle();
    EXPECT_TRUE(events.isEmpty());
    source->answer({fileA});
    EXPECT_EQ(events, (QStringList{"began:1", "wheel:tools"}));

    // Held when the drag was noticed and still held: not a tap.
    events.clear();
    source->release();
    source->modifiers = ModifierFlag::shift;
    source->press();
    clock.advance(200);
    source->takeSelection();
    source->answer({fileA});
    EXPECT_EQ(events, (QStringList{"ended", "began:1"}));

    // Released and pressed again while the files are read: a tap.
    events.clear();
    source->release();
    source->press();
    clock.advance(200);
    source->takeSelection();
    source->setModifiers(0);
    source->setModifiers(ModifierFlag::shift);
    source->answer({fileA});
    EXPECT_EQ(events, (QStringList{"ended", "began:1", "wheel:convert"}));

    // A drag that carries no files opens nothing, and its tap is not kept for the next one.
    events.clear();
    source->release();
    source->modifiers = 0;
    source->press();
    clock.advance(200);
    source->takeSelection();
    tap(ModifierFlag::shift);
    source->answer(QList<QUrl>{});
    source->release();
    source->press();
    clock.advance(200);
    source->takeSelection();
    source->answer({fileA});
    EXPECT_EQ(events, (QStringList{"ended", "began:1"}));
}

TEST_F(DragWatcherTest, EachPressIsInspectedOnceAndOnlyWhileTheButtonIsDown)
{
    // A drag that starts long after the press is not watched.
    source->press();
    clock.advance(DragWatcher::checkWindowMs + 1);
    source->takeSelection();
    EXPECT_EQ(source->readRequests, 0);
    EXPECT_FALSE(watcher->isChecking());
    source->release();

    // A second change of owner during one press is not read again.
    source->press();
    source->takeSelection();
    source->takeSelection();
    EXPECT_EQ(source->readRequests, 1);
    // The list arrives after the button came up: that drag is over.
    source->release();
    source->answer({fileA});
    EXPECT_TRUE(events.isEmpty());

    // A release without a drag, or a second release, tells nothing.
    source->release();
    EXPECT_TRUE(events.isEmpty());

    // A new press ends an active drag exactly once.
    dragOf({fileA});
    source->press();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:1", "ended"}));
}

TEST_F(DragWatcherTest, KeysReachTheWheelOnlyWhenAllowedDuringAFileDrag)
{
    source->key(48);
    dragOf({fileA});
    source->key(36);
    store.setValue(SettingsKey::keyboardWhileDragging, true);
    source->key(125);
    source->key(125);
    source->release();
    source->key(36);
    EXPECT_EQ(events, (QStringList{"began:1", "key:125", "key:125", "ended"}));
}

TEST_F(DragWatcherTest, EscapeEndsTheDragOnceItsSourceGaveItUpThoughTheButtonStaysDown)
{
    dragOf({fileA});
    // A source that keeps its drag on Escape: nothing ends.
    source->key(53);
    waitFor([] { return false; }, 5 * DragWatcher::cancelCheckMs);
    EXPECT_EQ(events, (QStringList{"began:1"}));
    // One that gives it up, a moment after the key.
    source->key(53);
    source->dragHeld = false;
    ASSERT_TRUE(waitFor([this] { return events.contains(QStringLiteral("ended")); }, 5000));
    // The button coming up later ends nothing a second time.
    source->release();
    settle();
    EXPECT_EQ(events, (QStringList{"began:1", "ended"}));
    // Escape outside a drag asks nothing.
    source->dragHeld = true;
    source->key(53);
    settle();
    EXPECT_EQ(events, (QStringList{"began:1", "ended"}));
}

TEST_F(DragWatcherTest, PracticeDragsAndPromises)
{
    FileInfo promised = promisedFileInfo(QStringLiteral("Photo.heic"), QStringLiteral("public.heic"));
    watcher->beginFileDrag({}, {promised});
    EXPECT_EQ(promises, QList<FileInfo>{promised});
    // Promises are not used when there are URLs.
    watcher->beginFileDrag({fileA}, {promised});
    EXPECT_TRUE(promises.isEmpty());
    tap(ModifierFlag::control);
    settle();
    watcher->stopWatching();
    watcher->stopWatching();
    EXPECT_EQ(events, (QStringList{"began:0", "began:1", "wheel:actions", "ended"}));
}

TEST_F(DragWatcherTest, DataABrowserHandsOverIsPromisedAndTextOrAddressesAreNot)
{
    // A picture out of a web page: no file, but bytes named by the page.
    DragOffer picture;
    picture.types = {"text/x-moz-url", "text/plain", "XdndDirectSave0", "application/octet-stream"};
    picture.directSaveName = QStringLiteral("sunset.jpg");
    source->press();
    source->takeSelection();
    source->answer(picture);
    ASSERT_EQ(events, QStringList{"began:0"});
    ASSERT_EQ(promises.size(), 1);
    EXPECT_TRUE(promises[0].isPromise);
    EXPECT_EQ(promises[0].name, QStringLiteral("sunset.jpg"));
    EXPECT_EQ(promises[0].category, FileCategory::image);
    tap(ModifierFlag::shift);
    settle();
    source->release();
    EXPECT_EQ(events, (QStringList{"began:0", "wheel:convert", "ended"}));

    // Only an address, or only text: nothing.
    events.clear();
    DragOffer address;
    address.types = {"text/uri-list", "text/x-moz-url", "text/plain"};
    address.uris = {QUrl(QStringLiteral("https://example.com/photo.png"))};
    source->press();
    source->takeSelection();
    source->answer(address);
    DragOffer text;
    text.types = {"text/plain", "UTF8_STRING"};
    source->release();
    source->press();
    source->takeSelection();
    source->answer(text);
    tap(ModifierFlag::shift);
    settle();
    source->release();
    EXPECT_TRUE(events.isEmpty()) << events.join(' ').toStdString();

    // Local files win over data offered beside them.
    DragOffer both;
    both.types = {"text/uri-list", "image/png"};
    both.uris = {fileA};
    source->press();
    source->takeSelection();
    source->answer(both);
    EXPECT_EQ(events, QStringList{"began:1"});
    EXPECT_TRUE(promises.isEmpty());
    source->release();
}

TEST(DragWatcherStart, WithoutABackEndTheWatcherLogsAndStaysQuiet)
{
    SettingsStore store{QString()};
    registerDefaultSettings(store);
    test::FakeClock clock;
    test::LogCapture log;

    auto fake = std::make_unique<FakeDragSource>();
    FakeDragSource* source = fake.get();
    source->startResult = false;
    source->whyNot = QStringLiteral("no X11 display is set");
    DragWatcher watcher(std::move(fake), store, clock);
    watcher.start();
    watcher.start();
    EXPECT_EQ(source->starts, 1);
    EXPECT_FALSE(watcher.isAvailable());
    EXPECT_TRUE(log.contains("quorvenda.drag", "Drag watcher unavailable: no X11 display is set"));
    watcher.nudgePointer();
    EXPECT_EQ(source->nudges, 0);

    DragWatcher none(nullptr, store, clock);
    none.start();
    EXPECT_FALSE(none.isAvailable());

    auto working = std::make_unique<FakeDragSource>();
    FakeDragSource* workingSource = working.get();
    DragWatcher watching(std::move(working), store, clock);
    watching.start();
    EXPECT_TRUE(watching.isAvailable());
    EXPECT_TRUE(log.contains("quorvenda.drag", "Drag watcher started"));
    watching.nudgePointer();
    EXPECT_EQ(workingSource->nudges, 1);
}
