#include "editors/media/ProcessMediaPlayer.h"

#include "editors/EditorActivity.h"
#include "editors/media/MediaEditorController.h"
#include "editors/media/PlayerSurface.h"
#include "jobs/Toasts.h"
#include "model/files/FileInfo.h"
#include "platform/sandbox/PlayerProcess.h"
#include "platform/ui/EditorWindow.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <csignal>

using namespace qv;
using qv::test::waitFor;

namespace {

struct ToastTexts : ToastPresenter {
    void show(const Toast& toast) override { texts.append(toast.text); }
    QStringList texts;
};

// The editor's player over the test player, which crashes a second into a file named so.
class ProcessMediaPlayerTest : public ::testing::Test {
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

TEST_F(ProcessMediaPlayerTest, PlaysSeeksAndPaintsAsTheEditorAsks)
{
    ProcessMediaPlayer player(source(QStringLiteral("clip.mp4")));
    QWidget window;
    window.resize(400, 300);
    auto* surface = qobject_cast<PlayerSurface*>(player.makeSurface(&window));
    ASSERT_NE(surface, nullptr);
    surface->resize(320, 180);
    window.show();
    ASSERT_TRUE(waitFor([&] { return player.process().frame().size() == surface->pixelSize(); }));

    int seeks = 0;
    player.seek(4.0, [&] { ++seeks; });
    player.seek(5.0, [&] { ++seeks; });
    EXPECT_DOUBLE_EQ(player.position(), 5.0);
    ASSERT_TRUE(waitFor([&] { return seeks == 2; }));
    EXPECT_EQ(player.rate(), 0.0);
    player.play();
    EXPECT_NE(player.rate(), 0.0);
    ASSERT_TRUE(waitFor([&] { return player.position() > 5.3; }));
    player.pause();
    EXPECT_EQ(player.rate(), 0.0);
    EXPECT_TRUE(surface->message().isEmpty());
}

TEST_F(ProcessMediaPlayerTest, ACrashMidPlayLeavesTheSentenceInThePicture)
{
    ProcessMediaPlayer player(source(QStringLiteral("crash.mp4")));
    QWidget window;
    auto* surface = qobject_cast<PlayerSurface*>(player.makeSurface(&window));
    ASSERT_NE(surface, nullptr);
    window.show();
    player.play();
    ASSERT_TRUE(waitFor([&] { return player.process().hasDied(); }));
    EXPECT_EQ(surface->message(), QStringLiteral("This file couldn't be played"));
    EXPECT_EQ(player.rate(), 0.0);
    // The controller's seeks still complete, so its scrubbing never waits for ever.
    bool done = false;
    player.seek(2.0, [&] { done = true; });
    EXPECT_TRUE(waitFor([&] { return done; }));
}

TEST_F(ProcessMediaPlayerTest, DestroyingThePlayerEndsItsProcess)
{
    qint64 pid = -1;
    {
        ProcessMediaPlayer player(source(QStringLiteral("clip.mp4")));
        ASSERT_TRUE(waitFor([&] { return player.process().isLoaded(); }));
        pid = player.process().pid();
        player.play();
    }
    EXPECT_TRUE(processGone(pid));
}

TEST_F(ProcessMediaPlayerTest, TheTrimEditorLivesThroughItsPlayersCrashAndEndsItOnClosing)
{
    auto made = std::make_unique<ProcessMediaPlayer>(source(QStringLiteral("crash.mp4")));
    ProcessMediaPlayer* player = made.get();
    FileInfo file;
    file.name = QStringLiteral("crash.mp4");
    auto controller = std::make_unique<MediaEditorController>(file, TrimEditor::Mode::trim, source(QStringLiteral("crash.mp4")),
                                                              std::nullopt, std::move(made), 10.0, QSizeF(1280, 720),
                                                              [](std::optional<OperationOptions>) {});
    controller->show(QPointF(400, 300));
    ASSERT_TRUE(waitFor([&] { return player->process().isLoaded(); }));
    const qint64 pid = player->process().pid();
    controller->togglePlay();
    ASSERT_TRUE(waitFor([&] { return player->process().hasDied(); }));
    ASSERT_NE(controller->window(), nullptr);
    auto* surface = controller->window()->findChild<PlayerSurface*>();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->message(), QStringLiteral("This file couldn't be played"));
    // The editor still follows the pointer: scrubbing completes against the dead player.
    controller->seek(3.0);
    EXPECT_TRUE(waitFor([&] { return !controller->isSeeking(); }));
    EXPECT_TRUE(processGone(pid));

    auto live = std::make_unique<ProcessMediaPlayer>(source(QStringLiteral("clip.mp4")));
    ProcessMediaPlayer* livePlayer = live.get();
    auto editor = std::make_unique<MediaEditorController>(file, TrimEditor::Mode::trim, source(QStringLiteral("clip.mp4")),
                                                          std::nullopt, std::move(live), 10.0, QSizeF(1280, 720),
                                                          [](std::optional<OperationOptions>) {});
    editor->show(QPointF(400, 300));
    ASSERT_TRUE(waitFor([&] { return livePlayer->process().isLoaded(); }));
    const qint64 livePid = livePlayer->process().pid();
    editor->togglePlay();
    // Closed as the user closes it; the application then lets the controller go.
    ASSERT_NE(editor->window(), nullptr);
    editor->window()->close();
    EXPECT_TRUE(editor->isFinished());
    editor.reset();
    EXPECT_TRUE(processGone(livePid));
    controller->window()->close();
    EXPECT_TRUE(waitFor([] { return openEditorWindows().isEmpty(); }));
}

TEST_F(ProcessMediaPlayerTest, AnOpeningThatWaitsOnThePlayerSaysSoAndEndsInASentence)
{
    ASSERT_TRUE(waitFor([] { return EditorActivity::count() == 0; }, 60000));
    ToastTexts toasts;
    setToastPresenter(&toasts);
    // The player never answers whether it can play the file: the editor waits for it.
    QFile junk(source(QStringLiteral("silent.mp4")).toLocalFile());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    const FileInfo file = fileInfoForURL(source(QStringLiteral("silent.mp4")));
    bool completed = false;
    TrimEditor::open(file, TrimEditor::Mode::trim, QPointF(100, 100), [&](const OperationOptions&) { completed = true; });
    EXPECT_TRUE(waitFor([&] { return toasts.texts.contains(QStringLiteral("Opening silent.mp4…")); }, 30000))
        << toasts.texts.join(QStringLiteral(" | ")).toStdString();
    // Given up at its limit: not a movie, and no preview can be made of it either.
    EXPECT_TRUE(waitFor([] { return EditorActivity::count() == 0; }, 120000));
    EXPECT_TRUE(toasts.texts.contains(QStringLiteral("Couldn't open silent.mp4 for editing")))
        << toasts.texts.join(QStringLiteral(" | ")).toStdString();
    EXPECT_FALSE(completed);
    setToastPresenter(nullptr);
}
