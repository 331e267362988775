#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/ShellDragSource.h"
#include "support/FakeClock.h"
#include "support/FakeDragSource.h"
#include "support/PrivateBusTest.h"
#include "support/WaitFor.h"
#include "wheel/DragWatcher.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

using namespace qv;

namespace {

// The application's drag watcher on GNOME Shell's back end, and a bus connection that plays the
// Shell extension, calling what data/gnome-shell-extension/dragMonitor.js calls.
class ShellDrag : public test::PrivateBusTest {
protected:
    void SetUp() override
    {
        PrivateBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        app = connection(QStringLiteral("app"));
        shell = connection(QStringLiteral("shell"));
        ASSERT_TRUE(app.registerService(QStringLiteral("org.quorvenda.Quorvenda")));
        registerDefaultSettings(store);
        auto made = std::make_unique<ShellDragSource>(app);
        source = made.get();
        watcher = std::make_unique<DragWatcher>(std::move(made), store, clock);
        QObject::connect(watcher.get(), &DragWatcher::dragBegan,
                         [this](const QList<QUrl>& urls, const QList<FileInfo>&) {
                             events << QStringLiteral("began:%1").arg(urls.size());
                             beganUrls = urls;
                         });
        QObject::connect(watcher.get(), &DragWatcher::wheelRequested,
                         [this](WheelKind kind) { events << QStringLiteral("wheel:") + toString(kind); });
        QObject::connect(watcher.get(), &DragWatcher::dragEnded, [this] { events << QStringLiteral("ended"); });
        watcher->start();
        ASSERT_TRUE(watcher->isAvailable());
    }

    void TearDown() override
    {
        watcher.reset();
        notePointerSeen(std::nullopt);
        PrivateBusTest::TearDown();
    }

    // A call as the extension makes it; false when the application refused it.
    bool call(QDBusConnection& from, const QString& method, const QList<QVariant>& args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.quorvenda.Quorvenda"), ShellDragSource::objectPath,
            QStringLiteral("org.quorvenda.Quorvenda.ShellDrag"), method);
        message.setArguments(args);
        return from.call(message, QDBus::BlockWithGui, 5000).type() == QDBusMessage::ReplyMessage;
    }
    bool call(const QString& method, const QList<QVariant>& args = {}) { return call(shell, method, args); }

    QList<QVariant> began(const QStringList& uris, int x, int y, uint modifiers)
    {
        return {QStringList{QStringLiteral("text/uri-list"), QStringLiteral("text/plain")}, uris, x, y, modifiers};
    }

    void settle() { test::waitFor([] { return false; }, 10 * DragWatcher::tapWindowMs); }

    SettingsStore store{QString()};
    test::FakeClock clock;
    QDBusConnection app{QString()};
    QDBusConnection shell{QString()};
    ShellDragSource* source = nullptr;
    std::unique_ptr<DragWatcher> watcher;
    QStringList events;
    QList<QUrl> beganUrls;
};

} // namespace

TEST_F(ShellDrag, ADragOfFilesOpensTheWheelsOfTheModifiersTappedAndEndsWithTheButton)
{
    QList<bool> attached;
    QObject::connect(source, &ShellDragSource::extensionAttachedChanged, [&](bool on) { attached << on; });
    ASSERT_TRUE(call(QStringLiteral("Attach")));
    EXPECT_TRUE(source->isExtensionAttached());
    EXPECT_EQ(attached, QList<bool>{true});

    // Shift already held when the drag starts is no tap.
    ASSERT_TRUE(call(QStringLiteral("DragBegan"),
                     began({QStringLiteral("file:///tmp/a%20b.png"), QStringLiteral("file:///tmp/c.pdf"),
                            QStringLiteral("https://example.com/x")},
                           640, 410, ShellDragSource::shift)));
    EXPECT_EQ(events, QStringList{QStringLiteral("began:2")});
    EXPECT_EQ(beganUrls, (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a b.png")),
                                  QUrl::fromLocalFile(QStringLiteral("/tmp/c.pdf"))}));
    EXPECT_EQ(source->pointerPosition(), QPoint(640, 410));
    // The wheel opens where the Shell saw the pointer, not where XWayland last did.
    const double height = ScreenProvider::system().primaryHeight();
    EXPECT_EQ(ScreenProvider::system().pointerLocation(), QPointF(640, height - 410));
    EXPECT_TRUE(source->isPrimaryButtonDown());
    EXPECT_EQ(source->currentModifiers(), ModifierFlag::shift);

    ASSERT_TRUE(call(QStringLiteral("DragMoved"), {650, 420, uint(ShellDragSource::shift)}));
    settle();
    EXPECT_EQ(events.size(), 1) << "a held key and a move open nothing";
    EXPECT_EQ(source->pointerPosition(), QPoint(650, 420));

    // Released and tapped again; then Super: the convert wheel, then the tools wheel.
    ASSERT_TRUE(call(QStringLiteral("DragMoved"), {650, 420, 0u}));
    ASSERT_TRUE(call(QStringLiteral("DragMoved"), {650, 420, uint(ShellDragSource::shift)}));
    settle();
    ASSERT_TRUE(call(QStringLiteral("DragMoved"), {651, 420, uint(ShellDragSource::shift | ShellDragSource::super)}));
    settle();
    EXPECT_EQ(events, (QStringList{QStringLiteral("began:2"), QStringLiteral("wheel:convert"),
                                   QStringLiteral("wheel:tools")}));

    ASSERT_TRUE(call(QStringLiteral("DragEnded"), {700, 500}));
    EXPECT_EQ(events.last(), QStringLiteral("ended"));
    EXPECT_EQ(source->pointerPosition(), QPoint(700, 500));
    EXPECT_FALSE(source->isPrimaryButtonDown());
    // Late calls of a drag that is over change nothing.
    ASSERT_TRUE(call(QStringLiteral("DragMoved"), {1, 1, uint(ShellDragSource::control)}));
    ASSERT_TRUE(call(QStringLiteral("DragEnded"), {1, 1}));
    settle();
    EXPECT_EQ(events.size(), 4);
}

TEST_F(ShellDrag, DragsOfNoFilesAndDragsWhilePausedOpenNothing)
{
    ASSERT_TRUE(call(QStringLiteral("Attach")));
    ASSERT_TRUE(call(QStringLiteral("DragBegan"),
                     {QStringList{QStringLiteral("text/plain")}, QStringList{}, 10, 10, 0u}));
    ASSERT_TRUE(call(QStringLiteral("DragMoved"), {10, 10, uint(ShellDragSource::shift)}));
    ASSERT_TRUE(call(QStringLiteral("DragEnded"), {10, 10}));
    settle();
    EXPECT_TRUE(events.isEmpty()) << qPrintable(events.join(QLatin1Char(' ')));

    store.setValue(SettingsKey::paused, true);
    ASSERT_TRUE(call(QStringLiteral("DragBegan"), began({QStringLiteral("file:///tmp/a.png")}, 1, 1, 0)));
    ASSERT_TRUE(call(QStringLiteral("DragMoved"), {1, 1, uint(ShellDragSource::shift)}));
    settle();
    EXPECT_TRUE(events.isEmpty()) << qPrintable(events.join(QLatin1Char(' ')));
}

TEST_F(ShellDrag, TheExtensionLeavingEndsItsDragAndANudgeIsAskedOfIt)
{
    QDBusConnection second = connection(QStringLiteral("second"));
    int nudges = 0;
    QObject::connect(source, &ShellDragSource::nudgeRequested, [&] { ++nudges; });

    // The request reaches the extension's connection.
    QTimer heard;
    heard.setSingleShot(true);
    heard.setInterval(60000);
    ASSERT_TRUE(shell.connect(QString(), ShellDragSource::objectPath, QStringLiteral("org.quorvenda.Quorvenda.ShellDrag"),
                              QStringLiteral("NudgePointer"), &heard, SLOT(start())));

    watcher->nudgePointer();
    EXPECT_EQ(nudges, 0) << "no extension to ask";

    ASSERT_TRUE(call(QStringLiteral("Attach")));
    ASSERT_TRUE(call(QStringLiteral("DragBegan"), began({QStringLiteral("file:///tmp/a.png")}, 5, 5, 0)));
    watcher->nudgePointer();
    EXPECT_EQ(nudges, 1);
    EXPECT_TRUE(test::waitFor([&] { return heard.isActive(); }));

    // Another connection cannot say goodbye for it.
    ASSERT_TRUE(call(second, QStringLiteral("Detach")));
    EXPECT_TRUE(source->isExtensionAttached());

    // The Shell goes away mid-drag: the drag ends with it.
    shell = QDBusConnection(QStringLiteral("gone"));
    QDBusConnection::disconnectFromBus(QStringLiteral("shell"));
    ASSERT_TRUE(test::waitFor([&] { return !source->isExtensionAttached(); }));
    EXPECT_EQ(events, (QStringList{QStringLiteral("began:1"), QStringLiteral("ended")}));
}

// A click-mode wheel asks the extension where the pointer is, and for Escape and presses beside
// it; only the extension's own connection can dismiss it, and only while it is watched.
TEST_F(ShellDrag, TheClickWheelLearnsThePointerAndItsDismissalFromTheExtension)
{
    QList<QPoint> located;
    int dismissals = 0;
    QObject::connect(watcher.get(), &DragWatcher::pointerLocated, [&](QPoint at) { located << at; });
    QObject::connect(watcher.get(), &DragWatcher::clickWheelDismissed, [&] { ++dismissals; });
    QList<QList<int>> frames;
    QObject::connect(source, &ShellDragSource::clickWheelWatchRequested,
                     [&](int x, int y, int w, int h) { frames << QList<int>{x, y, w, h}; });
    QTimer asked;
    asked.setSingleShot(true);
    asked.setInterval(60000);
    ASSERT_TRUE(shell.connect(QString(), ShellDragSource::objectPath, QStringLiteral("org.quorvenda.Quorvenda.ShellDrag"),
                              QStringLiteral("LocatePointer"), &asked, SLOT(start())));

    EXPECT_FALSE(watcher->locatePointer()) << "no extension to ask";
    watcher->watchClickWheel(QRect(10, 20, 500, 500));
    EXPECT_TRUE(frames.isEmpty());

    ASSERT_TRUE(call(QStringLiteral("Attach")));
    EXPECT_TRUE(watcher->locatePointer());
    EXPECT_TRUE(test::waitFor([&] { return asked.isActive(); }));
    ASSERT_TRUE(call(QStringLiteral("PointerLocated"), {733, 412}));
    EXPECT_EQ(located, QList<QPoint>{QPoint(733, 412)});
    EXPECT_EQ(ScreenProvider::system().pointerLocation().x(), 733) << "the wheel opens there";

    ASSERT_TRUE(call(QStringLiteral("ClickWheelDismissed")));
    EXPECT_EQ(dismissals, 0) << "no wheel watched";
    watcher->watchClickWheel(QRect(10, 20, 500, 500));
    EXPECT_EQ(frames, (QList<QList<int>>{{10, 20, 500, 500}}));
    QDBusConnection second = connection(QStringLiteral("second"));
    ASSERT_TRUE(call(second, QStringLiteral("ClickWheelDismissed")));
    EXPECT_EQ(dismissals, 0) << "another connection cannot dismiss it";
    QList<int> keys;
    QObject::connect(watcher.get(), &DragWatcher::clickWheelKeyPressed, [&](int key) { keys << key; });
    ASSERT_TRUE(call(second, QStringLiteral("ClickWheelKey"), {QStringLiteral("Return")}));
    ASSERT_TRUE(call(QStringLiteral("ClickWheelKey"), {QStringLiteral("Down")}));
    ASSERT_TRUE(call(QStringLiteral("ClickWheelKey"), {QStringLiteral("KP_Enter")}));
    ASSERT_TRUE(call(QStringLiteral("ClickWheelKey"), {QStringLiteral("a")}));
    EXPECT_EQ(keys, (QList<int>{Qt::Key_Down, Qt::Key_Enter})) << "the extension's choosing keys only";
    ASSERT_TRUE(call(QStringLiteral("ClickWheelDismissed")));
    ASSERT_TRUE(call(QStringLiteral("ClickWheelDismissed")));
    EXPECT_EQ(dismissals, 1) << "once";
    ASSERT_TRUE(call(QStringLiteral("ClickWheelKey"), {QStringLiteral("Up")}));
    EXPECT_EQ(keys.size(), 2) << "no key once it closed";
    watcher->watchClickWheel(QRect());
    EXPECT_EQ(frames.last(), (QList<int>{0, 0, 0, 0})) << "the watch ended";
}

TEST_F(ShellDrag, WithoutTheExtensionTheX11BackEndSpeaksForIt)
{
    auto fake = std::make_unique<test::FakeDragSource>();
    test::FakeDragSource* x11 = fake.get();
    QDBusConnection other = connection(QStringLiteral("other-app"));
    auto made = std::make_unique<ShellDragSource>(other, std::move(fake));
    ShellDragSource* both = made.get();
    DragWatcher local(std::move(made), store, clock);
    QStringList seen;
    QObject::connect(&local, &DragWatcher::dragBegan,
                     [&](const QList<QUrl>& urls, const QList<FileInfo>&) { seen << QStringLiteral("began:%1").arg(urls.size()); });
    QObject::connect(&local, &DragWatcher::dragEnded, [&] { seen << QStringLiteral("ended"); });
    local.start();
    EXPECT_EQ(x11->starts, 1);

    // A drag out of an X11 program, seen by X11.
    x11->modifiers = ModifierFlag::control;
    x11->press();
    x11->takeSelection();
    x11->answer(QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/x.png"))});
    EXPECT_EQ(both->currentModifiers(), ModifierFlag::control);
    x11->release();
    EXPECT_EQ(seen, (QStringList{QStringLiteral("began:1"), QStringLiteral("ended")}));

    // With the extension there, X11 still speaks for drags between X11 programs, which Mutter
    // keeps to XWayland.
    both->attach(QStringLiteral(":1.999"));
    EXPECT_FALSE(x11->catchersShown) << "no strip while the extension reports drags";
    x11->press();
    x11->takeSelection();
    x11->answer(QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/y.png"))});
    EXPECT_EQ(seen.last(), QStringLiteral("began:1"));

    // XWayland hears no keys during such a drag: the extension is asked for them.
    x11->release();
    QList<bool> watches;
    QObject::connect(both, &ShellDragSource::modifierWatchRequested, [&](bool on) { watches << on; });
    QObject::connect(&local, &DragWatcher::wheelRequested, [&](WheelKind kind) { seen << toString(kind); });
    x11->modifiers = 0;
    x11->press();
    x11->takeSelection();
    x11->answer(QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/y.png"))});
    EXPECT_EQ(watches, QList<bool>{true});
    both->modifiersReported(ShellDragSource::super);
    ASSERT_TRUE(test::waitFor([&] { return seen.last() == QStringLiteral("tools"); }));
    x11->release();
    EXPECT_EQ(watches, (QList<bool>{true, false}));
    both->modifiersReported(ShellDragSource::shift);
    settle();
    EXPECT_EQ(seen.last(), QStringLiteral("ended")) << "reports after the drag change nothing";
    x11->press();
    x11->takeSelection();
    x11->answer(QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/y.png"))});
    seen.clear();

    // A drag the extension reports takes over, and X11 falls silent until it ends.
    both->dragBegan({QStringLiteral("text/uri-list")}, {QStringLiteral("file:///tmp/z.png"), QStringLiteral("file:///tmp/w.png")},
                    QPoint(3, 4), 0);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("ended"), QStringLiteral("began:2")}));
    const int reads = x11->readRequests;
    x11->release();
    x11->press();
    x11->takeSelection();
    EXPECT_EQ(x11->readRequests, reads);
    EXPECT_EQ(both->pointerPosition(), QPoint(3, 4));
    both->dragEnded(QPoint(5, 6));
    both->detach(QStringLiteral(":1.999"));
    EXPECT_TRUE(x11->catchersShown);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("ended"), QStringLiteral("began:2"), QStringLiteral("ended")}));
}
