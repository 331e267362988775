#include "jobs/ui/HoverState.h"
#include "jobs/ui/PillView.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QVariantAnimation>

using namespace qv;

namespace {

JobPtr makeJob(Job::State state, QString title = QStringLiteral("Convert to PNG"), int files = 1)
{
    auto job = std::make_shared<Job>(std::move(title), QStringLiteral("photo.stack"), files,
                                     QStringLiteral("beach.heic"), std::nullopt, QDateTime::currentDateTimeUtc());
    job->setState(state);
    return job;
}

QList<QUrl> urls(int count, const QString& folder = QStringLiteral("/home/me/Downloads"))
{
    QList<QUrl> list;
    for (int i = 0; i < count; ++i)
        list.append(QUrl::fromLocalFile(folder + QStringLiteral("/photo%1.png").arg(i == 0 ? QString() : QString::number(i))));
    return list;
}

QList<PillView::Action> actionsOf(const Job& job)
{
    QList<PillView::Action> list;
    for (const auto& control : PillView::controls(job))
        list.append(control.action);
    return list;
}

} // namespace

// A change of state never shows the old and the new texts over each other.
TEST(PillView, OldAndNewTextsNeverShowTogether)
{
    for (double blend = 0; blend <= 1.0001; blend += 0.05) {
        const auto [out, in] = PillView::textOpacities(blend);
        EXPECT_TRUE(out == 0 || in == 0) << blend;
    }
    EXPECT_EQ(PillView::textOpacities(0), std::make_pair(1.0, 0.0));
    EXPECT_EQ(PillView::textOpacities(1), std::make_pair(0.0, 1.0));
}

// A long job slow to move tells how long it may take yet, from its pace so far.
TEST(PillView, ARunningJobSaysAboutHowLongItHasLeft)
{
    EXPECT_EQ(PillView::timeLeftText(0.01, 15000), QStringLiteral("about 25 min left"));
    EXPECT_EQ(PillView::timeLeftText(0.5, 20000), QStringLiteral("less than a minute left"));
    EXPECT_EQ(PillView::timeLeftText(0.02, 120000), QStringLiteral("about 1 h 38 min left"));
    // Too early, nothing done yet, or done: no guess.
    EXPECT_TRUE(PillView::timeLeftText(0.5, 3000).isEmpty());
    EXPECT_TRUE(PillView::timeLeftText(0.0, 60000).isEmpty());
    EXPECT_TRUE(PillView::timeLeftText(-1.0, 60000).isEmpty());
    EXPECT_TRUE(PillView::timeLeftText(1.0, 60000).isEmpty());

    auto job = std::make_shared<Job>(QStringLiteral("Converting to MP4"), QStringLiteral("film"), 1,
                                     QStringLiteral("holiday.mov"), std::nullopt,
                                     QDateTime::currentDateTimeUtc().addSecs(-15));
    job->setState(Job::State::running);
    job->setFraction(0.01);
    EXPECT_EQ(PillView::detailText(*job), QStringLiteral("about 25 min left · holiday.mov"));
}

TEST(PillView, TextsLookAndButtonsForEveryState)
{
    using A = PillView::Action;
    auto receiving = makeJob(Job::State::receiving, QStringLiteral("Receiving"));
    EXPECT_EQ(PillView::titleText(*receiving), QStringLiteral("Receiving…"));
    EXPECT_EQ(PillView::detailText(*receiving), QStringLiteral("Waiting for the app to provide the file"));
    EXPECT_EQ(PillView::detailText(*makeJob(Job::State::receiving, QStringLiteral("Receiving"), 4)),
              QStringLiteral("Waiting for 4 files"));
    EXPECT_EQ(actionsOf(*receiving), QList<A>{A::cancel});
    EXPECT_EQ(PillView::statusIcon(*receiving).symbol, QStringLiteral("photo.stack"));

    auto running = makeJob(Job::State::running);
    EXPECT_EQ(PillView::titleText(*running), QStringLiteral("Convert to PNG…"));
    EXPECT_EQ(PillView::detailText(*running), QStringLiteral("beach.heic"));
    EXPECT_EQ(PillView::detailText(*makeJob(Job::State::waiting, QStringLiteral("Merging"), 3)),
              QStringLiteral("3 files"));

    auto one = makeJob(Job::State::finished);
    one->setOutputs(urls(1));
    EXPECT_EQ(PillView::titleText(*one), QStringLiteral("Saved · photo.png"));
    EXPECT_EQ(PillView::detailText(*one), QStringLiteral("in Downloads"));
    EXPECT_EQ(PillView::statusIcon(*one).symbol, QStringLiteral("checkmark.circle.fill"));
    EXPECT_EQ(actionsOf(*one), (QList<A>{A::reveal, A::open, A::copy}));
    EXPECT_EQ(PillView::controls(*one)[0].help, QStringLiteral("Show in Folder"));

    auto three = makeJob(Job::State::finished);
    three->setOutputs(urls(3, QStringLiteral("/data/Out")));
    three->setFailedCount(1);
    EXPECT_EQ(PillView::titleText(*three), QStringLiteral("Saved 3 files"));
    EXPECT_EQ(PillView::detailText(*three), QStringLiteral("in Out · 1 failed"));
    EXPECT_EQ(PillView::statusIcon(*three).symbol, QStringLiteral("exclamationmark.circle.fill"));
    three->setMessages({QStringLiteral("Kept the colours"), QStringLiteral("Dropped a page")});
    EXPECT_EQ(PillView::detailText(*three), QStringLiteral("in Out · Kept the colours · Dropped a page · 1 failed"));

    auto messages = makeJob(Job::State::finished, QStringLiteral("Reading text"));
    messages->setMessages({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    EXPECT_EQ(PillView::titleText(*messages), QStringLiteral("A"));
    EXPECT_EQ(PillView::detailText(*messages), QStringLiteral("B · C"));
    messages->setMessages({QStringLiteral("A")});
    EXPECT_EQ(PillView::detailText(*messages), QStringLiteral("Reading text"));

    auto nothing = makeJob(Job::State::finished);
    nothing->setFailedCount(2);
    EXPECT_EQ(PillView::titleText(*nothing), QStringLiteral("Done"));
    EXPECT_EQ(PillView::detailText(*nothing), QStringLiteral("2 failed"));
    EXPECT_EQ(actionsOf(*nothing), QList<A>{A::close});
    nothing->setFailedCount(0);
    EXPECT_TRUE(PillView::detailText(*nothing).isEmpty());

    auto failed = makeJob(Job::State::failed);
    EXPECT_EQ(PillView::titleText(*failed), QStringLiteral("Couldn't convert to PNG"));
    EXPECT_EQ(PillView::detailText(*failed), QStringLiteral("Something went wrong"));
    EXPECT_EQ(PillView::statusIcon(*failed).symbol, QStringLiteral("xmark.octagon.fill"));
    EXPECT_EQ(actionsOf(*failed), (QList<A>{A::details, A::close}));
    failed->setFailure(JobFailure{QStringLiteral("Not enough disk space"), QString()});
    EXPECT_EQ(PillView::detailText(*failed), QStringLiteral("Not enough disk space"));

    auto cancelled = makeJob(Job::State::cancelled);
    EXPECT_EQ(PillView::titleText(*cancelled), QStringLiteral("Cancelled"));
    EXPECT_EQ(PillView::detailText(*cancelled), QStringLiteral("Convert to PNG"));
    EXPECT_EQ(PillView::statusIcon(*cancelled).symbol, QStringLiteral("stop.circle.fill"));
    EXPECT_EQ(actionsOf(*cancelled), QList<A>{A::close});

    EXPECT_EQ(toString(A::details), QStringLiteral("details"));
}

TEST(PillView, ProgressPercentAndBar)
{
    EXPECT_EQ(PillView::percentText(0.004), QStringLiteral("0 %"));
    EXPECT_EQ(PillView::percentText(0.996), QStringLiteral("100 %"));
    EXPECT_EQ(PillView::percentText(0.125), QStringLiteral("13 %"));
    EXPECT_DOUBLE_EQ(PillView::barWidth(300, 0.004), 6);
    EXPECT_DOUBLE_EQ(PillView::barWidth(300, 0.5), 150);

    HoverState hover;
    auto job = makeJob(Job::State::running);
    PillView view(job, hover, {});
    EXPECT_TRUE(view.showsProgressTrack());
    EXPECT_FALSE(view.showsPercent());
    EXPECT_TRUE(view.isIndeterminate());
    job->setFraction(0.3);
    EXPECT_TRUE(view.showsPercent());
    EXPECT_FALSE(view.isIndeterminate());
    EXPECT_EQ(view.accessibleName(), QStringLiteral("Convert to PNG…, beach.heic"));
    job->setState(Job::State::finished);
    EXPECT_FALSE(view.showsProgressTrack());
}

TEST(PillView, ReportsClicksAndHover)
{
    HoverState hover;
    QList<bool> hoverChanges;
    hover.onChange = [&](bool h) { hoverChanges.append(h); };
    QList<PillView::Action> performed;
    auto job = makeJob(Job::State::running);
    PillView view(job, hover, [&](PillView::Action a) { performed.append(a); });

    auto click = [&](const QPointF& at) {
        QMouseEvent press(QEvent::MouseButtonPress, at, view.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&view, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, view.mapToGlobal(at), Qt::LeftButton, {}, {});
        QCoreApplication::sendEvent(&view, &release);
    };
    const QRectF cancel = view.controlRect(PillView::Action::cancel);
    ASSERT_FALSE(cancel.isEmpty());
    EXPECT_NEAR(cancel.right(), 344 - 10, 0.01);
    click(cancel.center());
    click(QPointF(100, 28)); // the text: no action
    EXPECT_EQ(performed, QList<PillView::Action>{PillView::Action::cancel});

    job->setState(Job::State::failed);
    EXPECT_TRUE(view.controlRect(PillView::Action::cancel).isEmpty());
    click(view.controlRect(PillView::Action::details).center());
    EXPECT_EQ(performed.last(), PillView::Action::details);

    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    QCoreApplication::sendEvent(&view, &enter);
    QCoreApplication::sendEvent(&view, &enter);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&view, &leave);
    EXPECT_EQ(hoverChanges, (QList<bool>{true, false}));
    EXPECT_FALSE(hover.isHovering);
}

namespace {

QVariantAnimation* runningAnimation(const QObject& view, const char* name)
{
    for (auto* animation : view.findChildren<QVariantAnimation*>(QLatin1String(name))) {
        if (animation->state() == QAbstractAnimation::Running)
            return animation;
    }
    return nullptr;
}

// Sets QUORVENDA_REDUCE_MOTION for one scope.
struct ReducedMotion {
    ReducedMotion() { qputenv("QUORVENDA_REDUCE_MOTION", "1"); }
    ~ReducedMotion() { qunsetenv("QUORVENDA_REDUCE_MOTION"); }
};

} // namespace

TEST(PillView, BarWidthSlidesToItsTargetOverATenthOfASecond)
{
    HoverState hover;
    auto job = makeJob(Job::State::running);
    PillView view(job, hover, {});
    const double track = 344 - 44;

    // The bar appears at its width; later moves slide.
    job->setFraction(0.2);
    EXPECT_DOUBLE_EQ(view.shownBarWidth(), track * 0.2);
    EXPECT_EQ(runningAnimation(view, "barWidth"), nullptr);

    job->setFraction(0.6);
    QVariantAnimation* slide = runningAnimation(view, "barWidth");
    ASSERT_NE(slide, nullptr);
    EXPECT_DOUBLE_EQ(view.shownBarWidth(), track * 0.2);
    slide->setCurrentTime(50);
    EXPECT_NEAR(view.shownBarWidth(), track * 0.4, 0.01); // linear
    slide->setCurrentTime(99);
    EXPECT_LT(view.shownBarWidth(), track * 0.6);
    EXPECT_GT(view.shownBarWidth(), track * 0.59);
    slide->setCurrentTime(100);
    EXPECT_DOUBLE_EQ(view.shownBarWidth(), track * 0.6);
    EXPECT_EQ(runningAnimation(view, "barWidth"), nullptr);

    // A change that leaves the fraction alone does not restart a slide under way.
    job->setFraction(0.8);
    slide = runningAnimation(view, "barWidth");
    ASSERT_NE(slide, nullptr);
    slide->setCurrentTime(40);
    job->setMessages({QStringLiteral("Kept the colours")});
    EXPECT_EQ(runningAnimation(view, "barWidth"), slide);
    EXPECT_EQ(slide->currentTime(), 40);

    // A new target mid-slide starts from where the bar stands, never jumping back.
    const double midway = view.shownBarWidth();
    job->setFraction(0.9);
    EXPECT_DOUBLE_EQ(view.shownBarWidth(), midway);
    runningAnimation(view, "barWidth")->setCurrentTime(100);
    EXPECT_DOUBLE_EQ(view.shownBarWidth(), track * 0.9);
}

TEST(PillView, StateChangesSettleOnASpring)
{
    HoverState hover;
    auto job = makeJob(Job::State::running);
    job->setFraction(0.5);
    PillView view(job, hover, {});
    EXPECT_DOUBLE_EQ(view.stateProgress(), 1);

    // Progress alone is no change of state.
    job->setFraction(0.7);
    EXPECT_EQ(runningAnimation(view, "stateSpring"), nullptr);

    job->setOutputs(urls(1));
    job->setState(Job::State::finished);
    QVariantAnimation* spring = runningAnimation(view, "stateSpring");
    ASSERT_NE(spring, nullptr);
    EXPECT_DOUBLE_EQ(view.stateProgress(), 0);
    const int duration = spring->duration();
    EXPECT_GT(duration, 200);
    EXPECT_LT(duration, 1000);
    spring->setCurrentTime(duration / 4);
    EXPECT_GT(view.stateProgress(), 0.3);
    EXPECT_LT(view.stateProgress(), 1.02);
    EXPECT_FALSE(view.grab().isNull()); // both looks drawn at once
    spring->setCurrentTime(duration);
    EXPECT_DOUBLE_EQ(view.stateProgress(), 1);
    EXPECT_EQ(runningAnimation(view, "stateSpring"), nullptr);
}

TEST(PillView, ReduceMotionJumpsStraightToTheEnd)
{
    ReducedMotion reduced;
    HoverState hover;
    auto job = makeJob(Job::State::running);
    PillView view(job, hover, {});
    job->setFraction(0.2);
    job->setFraction(0.7);
    EXPECT_EQ(runningAnimation(view, "barWidth"), nullptr);
    EXPECT_DOUBLE_EQ(view.shownBarWidth(), (344 - 44) * 0.7);

    job->setState(Job::State::failed);
    EXPECT_EQ(runningAnimation(view, "stateSpring"), nullptr);
    EXPECT_DOUBLE_EQ(view.stateProgress(), 1);
    EXPECT_FALSE(view.showsProgressTrack());
}

TEST(PillView, LinesAreCutAtTheEndAndShortNamesNeverAre)
{
    HoverState hover;
    auto failed = makeJob(Job::State::failed, QStringLiteral("Converting to PNG"));
    failed->setFailure(JobFailure{QStringLiteral("This file is damaged or not in a supported format"), QString()});
    PillView view(failed, hover, {});
    EXPECT_EQ(view.shownTitle(), QStringLiteral("Couldn't convert to PNG"));
    const QString detail = view.shownDetail();
    EXPECT_TRUE(detail.endsWith(QStringLiteral("…"))) << qPrintable(detail);
    EXPECT_TRUE(detail.startsWith(QStringLiteral("This file is d"))) << qPrintable(detail);

    const QString name = QStringLiteral("report (merged).pdf");
    auto running = std::make_shared<Job>(QStringLiteral("Merging"), QStringLiteral("doc"), 1, name, std::nullopt,
                                         QDateTime::currentDateTimeUtc());
    running->setState(Job::State::running);
    running->setFraction(0.42);
    PillView runningView(running, hover, {});
    EXPECT_EQ(runningView.shownDetail(), name);

    auto saved = makeJob(Job::State::finished);
    saved->setOutputs({QUrl::fromLocalFile(QStringLiteral("/home/me/Documents/") + name)});
    PillView savedView(saved, hover, {});
    EXPECT_EQ(savedView.shownTitle(), QStringLiteral("Saved · ") + name);

    // A long name keeps its beginning and its end, and the words before it stay whole.
    const QString longName = QStringLiteral("Quarterly figures for the northern region, final version (3).xlsx");
    auto longRunning = std::make_shared<Job>(QStringLiteral("Converting to PDF"), QStringLiteral("doc"), 1, longName,
                                             std::nullopt, QDateTime::currentDateTimeUtc());
    longRunning->setState(Job::State::running);
    PillView longView(longRunning, hover, {});
    const QString cut = longView.shownDetail();
    EXPECT_TRUE(cut.startsWith(QStringLiteral("Quarterly"))) << qPrintable(cut);
    EXPECT_TRUE(cut.endsWith(QStringLiteral("(3).xlsx"))) << qPrintable(cut);
    EXPECT_TRUE(cut.contains(QStringLiteral("…"))) << qPrintable(cut);

    auto longSaved = makeJob(Job::State::finished);
    longSaved->setOutputs({QUrl::fromLocalFile(QStringLiteral("/home/me/Documents/") + longName)});
    PillView longSavedView(longSaved, hover, {});
    const QString title = longSavedView.shownTitle();
    EXPECT_TRUE(title.startsWith(QStringLiteral("Saved · Qua"))) << qPrintable(title);
    EXPECT_TRUE(title.endsWith(QStringLiteral(".xlsx"))) << qPrintable(title);
    EXPECT_TRUE(title.contains(QStringLiteral("…"))) << qPrintable(title);
}

TEST(PillView, CancellingShowsAtOnceAndNoProgressItDidNotReach)
{
    HoverState hover;
    auto job = makeJob(Job::State::running, QStringLiteral("Converting to WEBM"));
    job->setHasTask(true);
    job->setFraction(0.04);
    PillView view(job, hover, {});
    EXPECT_EQ(view.shownTitle(), QStringLiteral("Converting to WEBM…"));
    EXPECT_TRUE(view.showsPercent());

    QStringList seen;
    QObject::connect(job.get(), &Job::changed, [&] {
        seen.append(PillView::titleText(*job) + (view.showsPercent() ? QStringLiteral(" ") + PillView::percentText(job->fraction()) : QString()));
    });
    job->cancelTask();
    EXPECT_EQ(seen, QStringList{QStringLiteral("Cancelling…")});
    EXPECT_TRUE(job->isCancelling());
    EXPECT_FALSE(view.showsPercent());
    EXPECT_TRUE(view.isIndeterminate());
    EXPECT_TRUE(PillView::controls(*job).isEmpty()); // asked once is enough
    EXPECT_EQ(PillView::detailText(*job), QStringLiteral("beach.heic"));
    job->cancelTask(); // a second request changes nothing
    EXPECT_EQ(seen.size(), 1);
    // Whatever progress the job still reports is not shown.
    job->setFraction(1.0);
    EXPECT_FALSE(view.showsPercent());
    job->setState(Job::State::cancelled);
    EXPECT_FALSE(job->isCancelling());
    EXPECT_EQ(PillView::titleText(*job), QStringLiteral("Cancelled"));
    EXPECT_FALSE(seen.join(QLatin1Char('|')).contains(QLatin1Char('%'))) << qPrintable(seen.join(QLatin1Char('|')));
}
