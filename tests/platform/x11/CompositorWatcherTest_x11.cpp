#include "platform/x11/CompositorWatcher.h"
#include "support/FakeCompositor.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::FakeCompositor;
using qv::test::waitFor;

TEST(CompositorWatcher, FollowsTheOwnerOfTheScreensSelection)
{
    QV_REQUIRE_X11();
    CompositorWatcher watcher;
    ASSERT_TRUE(watcher.watch());
    EXPECT_FALSE(watcher.isComposited()) << "Xvfb runs no compositor";
    QList<bool> changes;
    QObject::connect(&watcher, &CompositorWatcher::changed, [&](bool on) { changes.append(on); });

    // Another screen's compositor is not ours: the first change seen is screen 0's own.
    FakeCompositor other(1);
    FakeCompositor compositor(0);
    ASSERT_TRUE(other.isOpen() && compositor.isOpen());
    other.start();
    compositor.start();
    ASSERT_TRUE(waitFor([&] { return !changes.isEmpty(); }));
    EXPECT_EQ(changes, QList<bool>{true});
    EXPECT_TRUE(watcher.isComposited());

    compositor.stop();
    ASSERT_TRUE(waitFor([&] { return !watcher.isComposited(); }));
    compositor.start();
    ASSERT_TRUE(waitFor([&] { return watcher.isComposited(); }));
    // A compositor that dies gives the selection up with its window or its connection.
    compositor.destroyWindow();
    ASSERT_TRUE(waitFor([&] { return !watcher.isComposited(); }));
    compositor.start();
    ASSERT_TRUE(waitFor([&] { return watcher.isComposited(); }));

    // A watcher started while a compositor runs knows at once.
    CompositorWatcher late;
    ASSERT_TRUE(late.watch());
    EXPECT_TRUE(late.isComposited());

    compositor.disconnect();
    ASSERT_TRUE(waitFor([&] { return !watcher.isComposited() && !late.isComposited(); }));
    EXPECT_EQ(changes, (QList<bool>{true, false, true, false, true, false}));
}

TEST(CompositorWatcher, NoSuchDisplayOrScreenIsNotComposited)
{
    QV_REQUIRE_X11();
    FakeCompositor compositor(0);
    ASSERT_TRUE(compositor.isOpen());
    compositor.start();

    CompositorWatcher watcher;
    EXPECT_FALSE(watcher.watch({}, 7));
    EXPECT_FALSE(watcher.isComposited());
    EXPECT_FALSE(watcher.watch(QByteArrayLiteral(":9999")));
    EXPECT_FALSE(watcher.isComposited());
    // Watching again replaces the old connection.
    ASSERT_TRUE(watcher.watch({}, 0));
    EXPECT_TRUE(watcher.isComposited());
    EXPECT_FALSE(watcher.watch({}, 7));
    EXPECT_FALSE(watcher.isComposited());
}

TEST(CompositorWatcher, QtsDisplayIsWatched)
{
    QV_REQUIRE_X11();
    CompositorWatcher& watcher = CompositorWatcher::system();
    FakeCompositor compositor(0);
    ASSERT_TRUE(compositor.isOpen());
    compositor.start();
    ASSERT_TRUE(waitFor([&] { return watcher.isComposited(); }));
    compositor.stop();
    ASSERT_TRUE(waitFor([&] { return !watcher.isComposited(); }));
}
