#include "jobs/Toasts.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/JobDetailsView.h"
#include "jobs/ui/JobHUD.h"
#include "jobs/ui/PillController.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/Workspace.h"
#include "support/FakeScreens.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QToolTip>
#include <QWindow>

// Qt's own way of feeding a window a mouse event as the system would (QTest's mouse functions
// use it); only such events wake a tooltip.
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow* window, const QPointF& local, const QPointF& global,
                                      Qt::MouseButtons state, Qt::MouseButton button, QEvent::Type type,
                                      Qt::KeyboardModifiers mods, int timestamp);

using namespace qv;
using qv::test::waitFor;

namespace {

struct Recorder : Clipboard, Workspace, ToastPresenter {
    QList<QUrl> files;
    QString text;
    QList<QUrl> opened;
    QList<QUrl> revealed;
    QList<Toast> toasts;
    void setText(const QString& t) override { text = t; }
    void setFiles(const QList<QUrl>& urls) override { files = urls; }
    bool open(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }
    void reveal(const QList<QUrl>& urls) override { revealed += urls; }
    void show(const Toast& toast) override { toasts.append(toast); }
};

class JobHUDTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Frames then change at once; fades still run.
        qputenv("QUORVENDA_REDUCE_MOTION", "1");
        screens.list = {{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050)},
                        {QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 1024)}};
        screens.pointer = QPointF(100, 100);
        hud = std::make_unique<JobHUD>(JobHUD::Services{&screens, &recorder, &recorder,
                                                        [this](const JobPtr& job) { cancelled.append(job); }});
        setToastPresenter(&recorder);
    }
    void TearDown() override
    {
        setToastPresenter(nullptr);
        qunsetenv("QUORVENDA_REDUCE_MOTION");
    }

    JobPtr job(const QString& title, std::optional<QPointF> origin = std::nullopt)
    {
        auto j = std::make_shared<Job>(title, QStringLiteral("photo.stack"), 1, QStringLiteral("a.png"), origin,
                                       QDateTime::currentDateTimeUtc());
        j->setState(Job::State::running);
        return j;
    }

    test::FakeScreens screens;
    Recorder recorder;
    QList<JobPtr> cancelled;
    std::unique_ptr<JobHUD> hud;
};

} // namespace

TEST_F(JobHUDTest, StacksFourPillsAndCountsTheRest)
{
    QList<JobPtr> jobs;
    for (int i = 0; i < 5; ++i) {
        jobs.append(job(QStringLiteral("Job %1").arg(i)));
        hud->show(jobs.last());
    }
    hud->show(jobs[2]); // the same job again: still one pill
    ASSERT_EQ(hud->pills().size(), 5);
    EXPECT_EQ(hud->pills().first()->job(), jobs[4]); // newest on top

    // Qt's frames on the primary screen, whose visible frame starts 30 below its top.
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(hud->pills()[i]->panel()->isVisible());
        EXPECT_EQ(hud->pills()[i]->panel()->geometry(), QRect(1562, 30 + 14 + 64 * i, 344, 56)) << i;
    }
    EXPECT_FALSE(hud->pills()[4]->panel()->isVisible());
    ASSERT_TRUE(hud->overflow().isVisible());
    EXPECT_EQ(hud->overflow().count(), 1);
    EXPECT_EQ(hud->overflow().panel()->geometry(), QRect(1562, 30 + 270, 344, 28));

    // One of the four goes: the fifth comes into view, the overflow pill leaves.
    hud->dismissPill(hud->pills()[1]);
    ASSERT_EQ(hud->pills().size(), 4);
    EXPECT_TRUE(hud->pills()[3]->panel()->isVisible());
    EXPECT_EQ(hud->pills()[3]->job(), jobs[0]);
    EXPECT_EQ(hud->pills()[3]->panel()->geometry(), QRect(1562, 30 + 14 + 192, 344, 56));
    EXPECT_FALSE(hud->overflow().isVisible());

    // A drop on the second screen moves the stack there.
    hud->show(job(QStringLiteral("Elsewhere"), QPointF(2500, 500)));
    EXPECT_EQ(hud->pills()[0]->panel()->geometry(), QRect(3200 - 14 - 344, 1080 - 1024 + 14, 344, 56));
    EXPECT_EQ(hud->pills()[1]->panel()->geometry(), QRect(3200 - 14 - 344, 1080 - 1024 + 78, 344, 56));

    hud->remove(jobs[4]);
    hud->remove(job(QStringLiteral("Unknown")));
    EXPECT_EQ(hud->pills().size(), 4);
    EXPECT_FALSE(hud->pillFor(jobs[4]->id()));
}

TEST_F(JobHUDTest, EndedJobsLeaveAfterTheirOutcomesDelayUnlessHovered)
{
    auto finished = job(QStringLiteral("Converting"));
    hud->show(finished);
    PillController* pill = hud->pillFor(finished->id());
    EXPECT_FALSE(pill->pendingDismiss());
    // Hovering a running pill starts no timer.
    pill->hover().onChange(false);
    EXPECT_FALSE(pill->pendingDismiss());

    finished->setState(Job::State::finished);
    hud->jobFinished(finished);
    EXPECT_EQ(pill->pendingDismiss(), 4.0);

    // The pointer rests on it: nothing pending; it leaves: 2.5 s.
    pill->hover().isHovering = true;
    pill->hover().onChange(true);
    EXPECT_FALSE(pill->pendingDismiss());
    pill->scheduleDismiss(4.0);
    EXPECT_FALSE(pill->pendingDismiss());
    pill->hover().isHovering = false;
    pill->hover().onChange(false);
    EXPECT_EQ(pill->pendingDismiss(), 2.5);

    // A failed job whose start had no pill gets one at its end, for 12 s.
    auto failed = job(QStringLiteral("Converting to ZIP"));
    failed->setState(Job::State::failed);
    hud->jobFinished(failed);
    ASSERT_TRUE(hud->pillFor(failed->id()));
    EXPECT_EQ(hud->pills().first()->job(), failed);
    EXPECT_EQ(hud->pillFor(failed->id())->pendingDismiss(), 12.0);

    auto partly = job(QStringLiteral("Merging"));
    partly->setState(Job::State::finished);
    partly->setFailedCount(1);
    hud->jobFinished(partly);
    EXPECT_EQ(hud->pillFor(partly->id())->pendingDismiss(), 8.0);

    // A short delay really removes the pill, which fades and is gone.
    auto stopped = job(QStringLiteral("Stopping"));
    stopped->setState(Job::State::cancelled);
    hud->jobFinished(stopped);
    QPointer<PillController> stoppedPill = hud->pillFor(stopped->id());
    EXPECT_EQ(stoppedPill->pendingDismiss(), 1.4);
    stoppedPill->scheduleDismiss(0.01);
    ASSERT_TRUE(waitFor([&] { return !hud->pillFor(stopped->id()); }));
    EXPECT_TRUE(waitFor([&] { return stoppedPill.isNull(); }));
}

TEST_F(JobHUDTest, ButtonsActOnTheJob)
{
    auto j = job(QStringLiteral("Converting"));
    hud->show(j);
    PillController* pill = hud->pillFor(j->id());
    pill->handle(PillView::Action::cancel);
    EXPECT_EQ(cancelled, QList<JobPtr>{j});

    QList<QUrl> outputs;
    for (int i = 0; i < 12; ++i)
        outputs.append(QUrl::fromLocalFile(QStringLiteral("/out/r%1.png").arg(i)));
    j->setOutputs(outputs);
    j->setState(Job::State::finished);
    pill->handle(PillView::Action::cancel); // no longer active
    EXPECT_EQ(cancelled.size(), 1);
    pill->handle(PillView::Action::open);
    EXPECT_EQ(recorder.opened, outputs.mid(0, 10));
    pill->handle(PillView::Action::reveal);
    EXPECT_EQ(recorder.revealed, outputs);
    pill->handle(PillView::Action::copy);
    EXPECT_EQ(recorder.files, outputs);
    ASSERT_EQ(recorder.toasts.size(), 1);
    EXPECT_EQ(recorder.toasts[0].text, QStringLiteral("Copied 12 files"));
    EXPECT_EQ(recorder.toasts[0].symbol, QStringLiteral("doc.on.doc"));
    EXPECT_EQ(recorder.toasts[0].seconds, 3.0);
    j->setOutputs(outputs.mid(0, 1));
    pill->handle(PillView::Action::copy);
    EXPECT_EQ(recorder.toasts[1].text, QStringLiteral("Copied — paste it in your file manager"));

    pill->handle(PillView::Action::close);
    EXPECT_FALSE(hud->pillFor(j->id()));
}

TEST_F(JobHUDTest, DetailsPanelShowsTheFailure)
{
    auto j = job(QStringLiteral("Convert to PNG"));
    j->setState(Job::State::failed);
    const int before = int(openDetailsPanels().size());
    QWidget* panel = showJobDetails(j, &recorder);
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Couldn't convert to PNG"));
    auto* view = panel->findChild<JobDetailsView*>();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->detailsText(), QStringLiteral("No further details."));
    view->copyDetails();
    EXPECT_EQ(recorder.text, QStringLiteral("Unknown error\n\n"));

    j->setFailure(JobFailure{QStringLiteral("Not enough disk space"), QStringLiteral("errno 28")});
    QWidget* second = showJobDetails(j, &recorder);
    EXPECT_EQ(openDetailsPanels().size(), before + 2);
    second->findChild<JobDetailsView*>()->copyDetails();
    EXPECT_EQ(recorder.text, QStringLiteral("Not enough disk space\n\nerrno 28"));

    panel->close();
    second->close();
    EXPECT_TRUE(waitFor([&] { return openDetailsPanels().size() == before; }));
}

// A pill cuts its lines to its width: hovering its texts shows them whole, a click on them
// opens the details, and these list what became of each file.
TEST_F(JobHUDTest, EveryPillLineCanBeReadWholeAndTheDetailsGoFileByFile)
{
    auto j = std::make_shared<Job>(QStringLiteral("Compressing"), QStringLiteral("photo"), 2,
                                   QStringLiteral("a.jpg"), std::nullopt, QDateTime::currentDateTimeUtc());
    j->setState(Job::State::running);
    hud->show(j);
    Job::ItemOutcome smaller{{QStringLiteral("holiday at the lake, first evening.jpg")},
                             {QUrl::fromLocalFile(QStringLiteral("/tmp/holiday at the lake, first evening-compressed.jpg"))},
                             {QStringLiteral("26 % smaller")}, std::nullopt, false};
    Job::ItemOutcome same{{QStringLiteral("b.jpg")}, {}, {QStringLiteral("Already as small as it gets")}, std::nullopt, false};
    j->setOutputs(smaller.outputs);
    j->setMessages({QStringLiteral("26 % smaller"), QStringLiteral("Already as small as it gets")});
    j->setItemOutcomes({smaller, same});
    j->setState(Job::State::finished);
    hud->jobFinished(j);
    PillController* pill = hud->pillFor(j->id());
    ASSERT_TRUE(pill && pill->view());
    PillView* view = pill->view();
    // The detail line is cut on the pill, never in its tooltip.
    EXPECT_NE(view->shownDetail(), PillView::detailText(*j));
    EXPECT_TRUE(view->wholeText().contains(PillView::detailText(*j))) << qPrintable(view->wholeText());
    EXPECT_TRUE(view->wholeText().contains(QStringLiteral("Already as small as it gets")));

    const int before = int(openDetailsPanels().size());
    const QPointF onText(60, view->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, onText, view->mapToGlobal(onText), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(view, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, onText, view->mapToGlobal(onText), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(view, &release);
    ASSERT_EQ(openDetailsPanels().size(), before + 1);
    auto* details = openDetailsPanels().last()->findChild<JobDetailsView*>();
    ASSERT_TRUE(details);
    EXPECT_EQ(details->fileLines(),
              (QStringList{QStringLiteral("holiday at the lake, first evening.jpg — Saved as holiday at the lake, "
                                          "first evening-compressed.jpg · 26 % smaller"),
                           QStringLiteral("b.jpg — Already as small as it gets")}));
    // No failure: no empty box of details.
    EXPECT_FALSE(details->findChild<QPlainTextEdit*>());
    for (QWidget* panel : openDetailsPanels())
        panel->close();
}

// The usual desktops put notifications in the pills' corner: a notification stands for its
// job's pill, and the other pills keep below it while it shows.
TEST_F(JobHUDTest, PillsMakeRoomForANotificationThatStandsForItsJob)
{
    auto running = job(QStringLiteral("Converting to WEBM"));
    hud->show(running);
    auto done = job(QStringLiteral("Converting to MP4"));
    hud->show(done);
    PillController* runningPill = hud->pillFor(running->id());
    ASSERT_TRUE(runningPill);
    waitFor([] { return false; }, 50);
    const QRect before = runningPill->panel()->geometry();
    done->setOutputs({QUrl::fromLocalFile(QStringLiteral("/tmp/out.mp4"))});
    done->setState(Job::State::finished);
    hud->jobFinished(done);
    hud->notificationPosted(done);
    EXPECT_FALSE(hud->pillFor(done->id()));
    waitFor([] { return false; }, 50);
    const QRect during = runningPill->panel()->geometry();
    EXPECT_GE(during.top(), before.top() + int(hud::notificationRoom) - hud::pillStep - 1)
        << before.top() << " → " << during.top();
    EXPECT_GE(during.top(), int(hud::notificationRoom));
    hud->notificationGone();
    waitFor([] { return false; }, 50);
    EXPECT_LT(runningPill->panel()->geometry().top(), int(hud::notificationRoom));
}

TEST_F(JobHUDTest, PillsThatAnOpenTrayMenuPushesOffTheScreenWaitForItToClose)
{
    QList<JobPtr> jobs;
    for (int i = 0; i < 3; ++i) {
        jobs.append(job(QStringLiteral("Converting %1").arg(i)));
        hud->show(jobs.last());
    }
    const auto shown = [&] {
        int count = 0;
        for (const JobPtr& j : std::as_const(jobs))
            count += hud->pillFor(j->id())->panel()->isShown();
        return count;
    };
    ASSERT_TRUE(waitFor([&] { return shown() == 3; }));
    // 1050 high under a bar of 30: room for the newest pill alone below a menu 950 high.
    hud->setTrayMenuRoom(950);
    EXPECT_TRUE(waitFor([&] { return shown() == 1; })) << shown();
    EXPECT_GE(hud->pillFor(jobs.last()->id())->panel()->geometry().top(), 30 + 950);
    hud->setTrayMenuRoom(0);
    EXPECT_TRUE(waitFor([&] { return shown() == 3; })) << shown();
    EXPECT_LT(hud->pillFor(jobs.last()->id())->panel()->geometry().top(), 30 + hud::pillHeight);
}

TEST_F(JobHUDTest, ButtonsShowTheirTooltipsThoughThePillIsNeverActive)
{
    auto j = job(QStringLiteral("Converting to WEBM"));
    hud->show(j);
    PillController* pill = hud->pillFor(j->id());
    ASSERT_TRUE(pill && pill->panel() && pill->view());
    // Another window holds the focus, as the user's file manager does.
    QWidget other;
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(waitFor([&] { return other.isActiveWindow(); }));
    ASSERT_FALSE(pill->panel()->isActiveWindow());
    EXPECT_TRUE(pill->panel()->testAttribute(Qt::WA_AlwaysShowToolTips));

    QToolTip::hideText();
    PillView* view = pill->view();
    int timestamp = 1000;
    const auto hover = [&](const QPointF& at) {
        const QPointF local = view->mapTo(pill->panel(), at);
        qt_handleMouseEvent(pill->panel()->windowHandle(), local, pill->panel()->mapToGlobal(local), Qt::NoButton,
                            Qt::NoButton, QEvent::MouseMove, Qt::NoModifier, timestamp += 100);
    };
    hover(view->controlRect(PillView::Action::cancel).center());
    EXPECT_TRUE(waitFor([] { return QToolTip::isVisible(); }, 5000));
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Cancel"));
    QToolTip::hideText();

    // The failed pill's buttons too.
    j->setState(Job::State::failed);
    hover(QPointF(100, 20)); // off the buttons first: a move to where the pointer is is no move
    hover(view->controlRect(PillView::Action::close).center());
    EXPECT_TRUE(waitFor([] { return QToolTip::isVisible() && QToolTip::text() == QStringLiteral("Close"); }, 5000));
    QToolTip::hideText();
}

TEST_F(JobHUDTest, AFailedPillWithALongNameReadsFromItsStart)
{
    auto j = std::make_shared<Job>(QStringLiteral("Converting to PNG"), QStringLiteral("photo"), 1,
                                   QStringLiteral("Holiday pictures from the northern lakes, second week, unedited.jpg"),
                                   std::nullopt, QDateTime::currentDateTimeUtc());
    j->setState(Job::State::running);
    hud->show(j);
    j->setFailure(JobFailure{QStringLiteral("This file is damaged or not in a supported format"), QString()});
    j->setState(Job::State::failed);
    hud->jobFinished(j);
    PillView* view = hud->pillFor(j->id())->view();
    EXPECT_EQ(view->shownTitle(), QStringLiteral("Couldn't convert to PNG"));
    EXPECT_TRUE(view->shownDetail().startsWith(QStringLiteral("This file is damaged"))) << qPrintable(view->shownDetail());
    QWidget* details = showJobDetails(j, &recorder);
    EXPECT_EQ(details->windowTitle(), QStringLiteral("Couldn't convert to PNG"));
    // A name without spaces, as long as names get, keeps the window at its size.
    j = std::make_shared<Job>(QStringLiteral("Converting to PNG"), QStringLiteral("photo"), 1, QString(240, QLatin1Char('x')) + QStringLiteral(".jpg"),
                              std::nullopt, QDateTime::currentDateTimeUtc());
    QWidget* wide = showJobDetails(j, &recorder);
    QCoreApplication::processEvents();
    EXPECT_LE(wide->width(), 600);
    EXPECT_LE(wide->minimumSizeHint().width(), 600);
    for (QWidget* panel : openDetailsPanels())
        panel->close();
}
