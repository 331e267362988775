#include "app/preview/MediaView.h"

#include "app/preview/PreviewWindow.h"
#include "editors/media/PlayerSurface.h"
#include "platform/sandbox/PlayerProcess.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QToolButton>

#include <csignal>

using namespace qv;
using qv::test::waitFor;

namespace {

// The views play through the test player, which crashes a second into a file named so.
class MediaViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        previous = qgetenv("QUORVENDA_PLAYER");
        qputenv("QUORVENDA_PLAYER", QV_BUILD_DIR "/tests/quorvenda_test_player");
    }
    void TearDown() override { qputenv("QUORVENDA_PLAYER", previous); }

    QUrl source(const QString& name) const { return QUrl::fromLocalFile(folder.filePath(name)); }

    // Ended and reaped (the reaping happens off the main thread): no zombie, no orphan.
    static bool processGone(qint64 pid)
    {
        return waitFor([pid] { return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; });
    }

    QTemporaryDir folder;
    QByteArray previous;
};

} // namespace

TEST_F(MediaViewTest, AMovieWhosePlayerCrashesShowsTheSentenceAndTheAppLivesOn)
{
    MediaView view(source(QStringLiteral("crash.mov")), true);
    view.resize(480, 300);
    view.show();
    auto* surface = view.findChild<PlayerSurface*>();
    ASSERT_NE(surface, nullptr);
    ASSERT_TRUE(waitFor([&] { return view.player()->isLoaded(); }));
    auto* button = view.findChild<QToolButton*>();
    ASSERT_NE(button, nullptr);
    button->click();
    ASSERT_TRUE(waitFor([&] { return view.player()->hasDied(); }));
    EXPECT_EQ(view.message(), QStringLiteral("This file couldn't be played"));
    EXPECT_EQ(surface->message(), view.message());
    EXPECT_FALSE(button->isEnabled());
    // The application still answers: the view repaints and a new one plays.
    EXPECT_FALSE(view.grab().isNull());
    MediaView next(source(QStringLiteral("next.mov")), true);
    ASSERT_TRUE(waitFor([&] { return next.player()->isLoaded(); }));
}

TEST_F(MediaViewTest, ASoundWhosePlayerCrashesSaysSoInPlaceOfItsName)
{
    MediaView view(source(QStringLiteral("crash.m4a")), false);
    ASSERT_TRUE(waitFor([&] { return view.player()->isLoaded(); }));
    view.player()->play();
    ASSERT_TRUE(waitFor([&] { return view.player()->hasDied(); }));
    auto* label = view.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("This file couldn't be played"));
}

TEST_F(MediaViewTest, PicturesReachTheViewAtItsPixelSize)
{
    MediaView view(source(QStringLiteral("clip.mov")), true);
    view.resize(480, 300);
    view.show();
    auto* surface = view.findChild<PlayerSurface*>();
    ASSERT_NE(surface, nullptr);
    view.player()->play();
    ASSERT_TRUE(waitFor([&] { return view.player()->frame().size() == surface->pixelSize(); }));
    ASSERT_TRUE(waitFor([&] { return view.player()->position() > 0.3; }));
}

TEST_F(MediaViewTest, StoppingOrClosingEndsThePlayerProcess)
{
    MediaView view(source(QStringLiteral("clip.mov")), true);
    ASSERT_TRUE(waitFor([&] { return view.player()->isLoaded(); }));
    const qint64 pid = view.player()->pid();
    view.player()->play();
    view.stop();
    EXPECT_TRUE(processGone(pid));
    EXPECT_TRUE(view.message().isEmpty()); // ended on purpose, not a failure

    // The preview window's media go with the window.
    qv::test::writeFile(folder.filePath(QStringLiteral("one.mov")), QByteArray(1000, 'x'));
    PreviewWindow window;
    window.setItems({source(QStringLiteral("one.mov"))});
    auto* media = window.contentView() ? qobject_cast<MediaView*>(window.contentView()) : nullptr;
    if (!media)
        GTEST_SKIP() << "The preview does not show this file as a movie here";
    ASSERT_TRUE(waitFor([&] { return media->player()->isLoaded(); }));
    const qint64 previewPid = media->player()->pid();
    window.show();
    window.close();
    EXPECT_TRUE(processGone(previewPid));
}
