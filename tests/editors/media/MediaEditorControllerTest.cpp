#include "FakeMediaPlayer.h"

#include "editors/BusyIndicator.h"
#include "editors/media/Filmstrip.h"
#include "editors/media/MediaEditorController.h"
#include "editors/media/MediaEditorView.h"
#include "editors/media/PlayerSurface.h"
#include "platform/ui/EditorButtons.h"
#include "platform/ui/EditorWindow.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>

using namespace qv;

namespace {

struct Editor {
    test::FakeMediaPlayer* player;
    std::unique_ptr<MediaEditorController> controller;
    int completions = 0;
    std::optional<OperationOptions> result;

    explicit Editor(TrimEditor::Mode mode, double duration = 10.0, std::optional<QSizeF> picture = QSizeF(1280, 720))
    {
        auto fake = std::make_unique<test::FakeMediaPlayer>();
        player = fake.get();
        FileInfo file;
        file.name = QStringLiteral("clip.mp4");
        controller = std::make_unique<MediaEditorController>(
            file, mode, QUrl(), std::nullopt, std::move(fake), duration, picture, [this](std::optional<OperationOptions> options) {
                ++completions;
                result = std::move(options);
            });
    }
    MediaTimeline& timeline() { return controller->timeline(); }
};

} // namespace

TEST(MediaEditorController, PlayNearTheSelectionsEndRestartsAtItsStart)
{
    Editor editor(TrimEditor::Mode::trim);
    editor.timeline().setStart(2);
    editor.timeline().setEnd(8);
    editor.timeline().setTime(7.97);
    editor.controller->togglePlay();
    EXPECT_EQ(editor.player->seeks, QList<double>{2.0});
    EXPECT_EQ(editor.timeline().time(), 2.0);
    EXPECT_TRUE(editor.timeline().isPlaying());
    EXPECT_NE(editor.player->rate(), 0);

    // Inside the selection it plays from where it is.
    Editor inside(TrimEditor::Mode::trim);
    inside.timeline().setStart(2);
    inside.timeline().setEnd(8);
    inside.timeline().setTime(5);
    inside.controller->togglePlay();
    EXPECT_TRUE(inside.player->seeks.isEmpty());

    // Before the start it restarts too; pressing again pauses.
    Editor before(TrimEditor::Mode::ringtone, 90);
    before.timeline().setStart(10);
    before.timeline().setTime(3);
    before.controller->togglePlay();
    EXPECT_EQ(before.player->seeks, QList<double>{10.0});
    before.controller->togglePlay();
    EXPECT_EQ(before.player->rate(), 0);
    EXPECT_FALSE(before.timeline().isPlaying());
}

TEST(MediaEditorController, PlaybackStopsExactlyAtTheEndAndSplitPlaysToTheFilesEnd)
{
    Editor editor(TrimEditor::Mode::trim);
    editor.timeline().setStart(1);
    editor.timeline().setEnd(4);
    editor.timeline().setTime(1);
    editor.controller->togglePlay();
    for (int tick = 0; tick < 200 && editor.player->rate() != 0; ++tick) {
        editor.player->advance(1.0 / 30);
        editor.controller->handleTick(editor.player->position());
    }
    EXPECT_EQ(editor.player->rate(), 0);
    EXPECT_EQ(editor.timeline().time(), 4.0);
    EXPECT_FALSE(editor.timeline().isPlaying());
    ASSERT_FALSE(editor.player->seeks.isEmpty());
    EXPECT_EQ(editor.player->seeks.last(), 4.0);
    editor.player->completeSeek();
    // Again: from the start.
    editor.controller->togglePlay();
    EXPECT_EQ(editor.player->seeks.last(), 1.0);

    Editor split(TrimEditor::Mode::split);
    split.timeline().setTime(9.97);
    split.controller->togglePlay();
    EXPECT_EQ(split.player->seeks, QList<double>{0.0});
    split.player->completeSeek();
    split.player->setPosition(9.5);
    split.controller->handleTick(9.5);
    EXPECT_NE(split.player->rate(), 0); // no selection end to stop at
}

TEST(MediaEditorController, ScrubbingKeepsOneSeekInFlightAndTheLastTargetWins)
{
    Editor editor(TrimEditor::Mode::split);
    for (double t : {1.0, 2.0, 3.0, 4.0})
        editor.controller->seek(t);
    EXPECT_EQ(editor.timeline().time(), 4.0); // the playhead follows at once
    EXPECT_EQ(editor.player->seeks, QList<double>{1.0});
    // A tick while seeking shows the target, not the player.
    editor.controller->handleTick(0.5);
    EXPECT_EQ(editor.timeline().time(), 4.0);
    editor.player->completeSeek();
    EXPECT_EQ(editor.player->seeks, (QList<double>{1.0, 4.0}));
    editor.player->completeSeek();
    EXPECT_FALSE(editor.controller->isSeeking());
    editor.controller->handleTick(4.0);
    EXPECT_EQ(editor.timeline().time(), 4.0);
}

TEST(MediaEditorController, ApplyHandsBackOnceAndAnEndedEditorIgnoresItsActions)
{
    Editor editor(TrimEditor::Mode::trim);
    int closes = 0;
    editor.controller->onClose = [&closes] { ++closes; };
    editor.timeline().setStart(2);
    editor.timeline().setEnd(7.5);
    MediaEditorActions actions = editor.controller->actions();
    actions.apply();
    actions.apply();
    editor.controller->windowDidCancel();
    EXPECT_EQ(editor.completions, 1);
    ASSERT_TRUE(editor.result);
    EXPECT_EQ(editor.result->trimStart, 2.0);
    EXPECT_EQ(editor.result->trimEnd, 7.5);
    EXPECT_EQ(closes, 1);
    actions.togglePlay();
    EXPECT_EQ(editor.player->rate(), 0);

    editor.controller.reset();
    actions.apply(); // the controller is gone: nothing happens
    actions.seek(3);
}

TEST(MediaEditorController, CancelEscapeAndClosingEndTheEditorWithNothingHandedBack)
{
    for (const char* how : {"cancel", "escape", "close"}) {
        SCOPED_TRACE(how);
        Editor editor(TrimEditor::Mode::ringtone, 90, std::nullopt);
        int closes = 0;
        editor.controller->onClose = [&closes] { ++closes; };
        editor.controller->show(QPointF(400, 400));
        QPointer<EditorWindow> window = editor.controller->window();
        ASSERT_TRUE(window);
        EXPECT_EQ(window->windowTitle(), "Ringtone from clip.mp4");
        if (QLatin1String(how) == QLatin1String("cancel")) {
            window->findChild<EditorButtons*>()->cancelButton()->click();
        } else if (QLatin1String(how) == QLatin1String("escape")) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &escape);
        } else {
            window->close();
        }
        EXPECT_TRUE(editor.controller->isFinished());
        EXPECT_EQ(editor.completions, 1);
        EXPECT_FALSE(editor.result);
        EXPECT_EQ(closes, 1);
        EXPECT_FALSE(openEditorWindows().contains(window.data()));
    }
}

TEST(MediaEditorView, TrimIsOfferedOnlyOnceTheSelectionShrinks)
{
    Editor editor(TrimEditor::Mode::trim);
    editor.controller->show(QPointF(400, 400));
    EditorWindow* window = editor.controller->window();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), "Trim clip.mp4");
    EXPECT_EQ(window->width(), 756);
    auto* buttons = window->findChild<EditorButtons*>();
    EXPECT_FALSE(buttons->isActionEnabled());
    editor.timeline().setEnd(9.9);
    EXPECT_TRUE(buttons->isActionEnabled());
    window->close();
}

TEST(Filmstrip, GripsGrabBeforeThePlayheadAndKeepTheSelectionWithinItsLimits)
{
    MediaTimeline timeline(90, false, 40.0);
    QList<double> seeks;
    Filmstrip strip(&timeline, true, [&seeks](double t) { seeks.append(t); });
    strip.resize(744, 48); // a strip 720 wide between two 12-point insets
    const auto x = [&strip](double t) { return strip.xForTime(t); };
    EXPECT_EQ(strip.partAt(x(0) - 6), Filmstrip::Grab::start);
    EXPECT_EQ(strip.partAt(x(40) + 6), Filmstrip::Grab::end);
    EXPECT_EQ(strip.partAt(x(20)), Filmstrip::Grab::playhead);

    strip.dragTo(Filmstrip::Grab::start, x(10) - 6);
    EXPECT_NEAR(timeline.start(), 10, 1e-9);
    strip.dragTo(Filmstrip::Grab::end, x(70) + 6);
    EXPECT_EQ(timeline.end(), 50); // start + 40, never past
    EXPECT_EQ(seeks.last(), 50);
    strip.dragTo(Filmstrip::Grab::start, x(80) - 6);
    EXPECT_EQ(timeline.start(), 49.5); // end − the shortest selection

    // Handles so close that a press is as near to both: start wins.
    MediaTimeline tight(1, false, std::nullopt);
    Filmstrip small(&tight, true, [](double) {});
    small.resize(744, 48);
    tight.setStart(0.5);
    tight.setEnd(0.5 + 12.0 / 720);
    EXPECT_EQ(small.partAt((small.xForTime(tight.start()) - 6 + small.xForTime(tight.end()) + 6) / 2),
              Filmstrip::Grab::start);
}

TEST(Filmstrip, AClickOnAMarkRemovesItAndADragNever)
{
    MediaTimeline timeline(10, true, std::nullopt);
    timeline.setMarkers({3.0, 6.0});
    QList<double> seeks;
    Filmstrip strip(&timeline, false, [&](double t) {
        seeks.append(t);
        timeline.setTime(t);
    });
    strip.resize(720, 48);
    const auto press = [&strip](QEvent::Type type, double x) {
        QMouseEvent event(type, QPointF(x, 24), QPointF(x, 24), QPointF(x, 24), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&strip, &event);
    };
    // 6 points away: only the playhead moves.
    press(QEvent::MouseButtonPress, 216 + 6);
    press(QEvent::MouseButtonRelease, 216 + 6);
    EXPECT_EQ(timeline.markers().size(), 2);
    // A drag of 3 points that ends on a mark removes nothing.
    press(QEvent::MouseButtonPress, 432 - 3);
    press(QEvent::MouseMove, 432);
    press(QEvent::MouseButtonRelease, 432);
    EXPECT_EQ(timeline.markers().size(), 2);
    // 4 points away: removed.
    press(QEvent::MouseButtonPress, 216 + 4);
    press(QEvent::MouseButtonRelease, 216 + 4);
    EXPECT_EQ(timeline.markers(), QList<double>{6.0});
}

TEST(MediaEditorView, SplitControlsFollowTheModelAndThePieceLengthStepsByMinutesFromFiveMinutes)
{
    Editor editor(TrimEditor::Mode::split);
    editor.controller->show(QPointF(400, 400));
    EditorWindow* window = editor.controller->window();
    ASSERT_TRUE(window);
    auto* buttons = window->findChild<EditorButtons*>();
    EXPECT_FALSE(buttons->isActionEnabled());
    QSpinBox* every = nullptr;
    for (QSpinBox* spin : window->findChildren<QSpinBox*>())
        if (spin->accessibleName() == "Every")
            every = spin;
    ASSERT_TRUE(every);
    editor.timeline().setSplitMode(MediaTimeline::everySeconds);
    EXPECT_TRUE(buttons->isActionEnabled());
    EXPECT_EQ(every->text(), "Every 1:00");
    editor.timeline().setSeconds(300);
    every->stepBy(-1);
    EXPECT_EQ(editor.timeline().seconds(), 240);
    editor.timeline().setSeconds(295);
    every->stepBy(1);
    EXPECT_EQ(editor.timeline().seconds(), 300);
    editor.timeline().setSeconds(7200);
    EXPECT_EQ(every->text(), "Every 2:00:00");
    window->close();
}

TEST(MediaEditorView, PictureAndStripAreBusyUntilTheirContentArrives)
{
    Editor editor(TrimEditor::Mode::trim);
    editor.controller->show(QPointF(400, 400));
    EditorWindow* window = editor.controller->window();
    ASSERT_TRUE(window);
    auto* view = window->findChild<MediaEditorView*>();
    ASSERT_TRUE(view);
    ASSERT_TRUE(view->pictureBusy());
    // Opening goes to the first picture; the picture is busy until the player got there.
    EXPECT_EQ(editor.player->seeks, QList<double>{0.0});
    EXPECT_TRUE(view->pictureBusy()->isVisibleTo(window));
    editor.player->completeSeek();
    EXPECT_FALSE(view->pictureBusy()->isVisibleTo(window));

    // The strip is busy while its frames are read and none has come; one frame is enough.
    editor.timeline().setFramesLoading(true);
    EXPECT_TRUE(view->stripBusy()->isVisibleTo(window));
    QImage frame(16, 9, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    editor.timeline().setThumbnail(0, frame);
    EXPECT_FALSE(view->stripBusy()->isVisibleTo(window));
    window->close();

    // A sound has no picture; its strip is busy until its levels are read, or reading ends.
    Editor sound(TrimEditor::Mode::trim, 10.0, std::nullopt);
    sound.controller->show(QPointF(400, 400));
    auto* soundView = sound.controller->window()->findChild<MediaEditorView*>();
    EXPECT_FALSE(soundView->pictureBusy());
    EXPECT_TRUE(sound.player->seeks.isEmpty());
    sound.timeline().setFramesLoading(true);
    EXPECT_TRUE(soundView->stripBusy()->isVisibleTo(soundView));
    sound.timeline().setFramesLoading(false);
    EXPECT_FALSE(soundView->stripBusy()->isVisibleTo(soundView));
    sound.controller->window()->close();
}

namespace {

// A player whose frames come through a video sink, as the in-process one's do.
class SinkPlayer : public test::FakeMediaPlayer {
public:
    QWidget* makeSurface(QWidget* parent) override
    {
        auto* surface = new PlayerSurface(parent);
        surface->followFrames();
        sink = new QVideoSink(surface);
        QObject::connect(sink, &QVideoSink::videoFrameChanged, surface, [surface](const QVideoFrame& frame) {
            if (frame.isValid())
                surface->setPendingFrame([frame] { return frame.toImage(); });
        });
        return surface;
    }
    QVideoSink* sink = nullptr;
};

} // namespace

TEST(MediaEditorView, APictureFromAVideoSinkIsShownWithItsFirstFrameNotItsFirstSeek)
{
    auto player = std::make_unique<SinkPlayer>();
    SinkPlayer* fake = player.get();
    FileInfo file;
    file.name = QStringLiteral("clip.mp4");
    MediaEditorController controller(file, TrimEditor::Mode::trim, QUrl(), std::nullopt, std::move(player), 10.0,
                                     QSizeF(1280, 720), [](std::optional<OperationOptions>) {});
    controller.show(QPointF(400, 400));
    auto* view = controller.window()->findChild<MediaEditorView*>();
    ASSERT_TRUE(view && fake->sink);
    fake->completeSeek();
    EXPECT_TRUE(view->pictureBusy()->isVisibleTo(view));
    fake->sink->setVideoFrame(QVideoFrame());
    EXPECT_TRUE(view->pictureBusy()->isVisibleTo(view));
    QImage picture(64, 36, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    fake->sink->setVideoFrame(QVideoFrame(QVideoFrameFormat(picture.size(), QVideoFrameFormat::Format_BGRX8888)));
    EXPECT_FALSE(view->pictureBusy()->isVisibleTo(view));
    controller.window()->close();
}
