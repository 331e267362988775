#include "jobs/JobCenter.h"
#include "jobs/Notifications.h"
#include "jobs/OutputPlanner.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/FakeDesktopNotifications.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>

using namespace qv;
using qv::test::waitFor;

namespace {

struct RecordingWorkspace : Workspace {
    QList<QList<QUrl>> revealed;
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>& urls) override { revealed.append(urls); }
};

OperationDescriptor writingOperation(std::atomic<bool>& release)
{
    OperationDescriptor d;
    d.id = QStringLiteral("tool.document.test");
    d.verb = QStringLiteral("Converting to ZIP");
    d.categories = {FileCategory::document};
    d.make = [&release](const OperationContext&) -> std::shared_ptr<FileOperation> {
        return std::make_shared<BlockOperation>([&release](const QList<QUrl>&, OutputPlanner& planner, Progress&) {
            while (!release)
                QThread::msleep(2);
            const QUrl work = planner.workURL(QStringLiteral("txt"), QStringLiteral("out"));
            test::writeFile(work.toLocalFile(), "result");
            return QList<QUrl>{planner.deliver(work, planner.outputBaseName(QStringLiteral("done")),
                                               QStringLiteral("txt"))};
        });
    };
    return d;
}

} // namespace

TEST(Notifications, LongJobsNotifyAndTheClickRevealsTheResultsThatStillExist)
{
    SettingsStore store{QString()};
    registerDefaultSettings(store);
    test::FakeClock clock;
    test::FakeDesktopNotifications desktop;
    RecordingWorkspace workspace;
    Notifications notifications(desktop, workspace, clock);
    JobCenter center(store, clock, JobCenter::Services{nullptr, nullptr, nullptr, &notifications});
    int ended = 0;
    QObject::connect(&center, &JobCenter::jobEnded, [&] { ++ended; });

    QTemporaryDir dir;
    QList<FileInfo> files;
    for (const char* name : {"a.txt", "b.txt"})
        files.append(fileInfoForURL(QUrl::fromLocalFile(test::writeFile(dir.filePath(QString::fromLatin1(name))))));
    auto run = [&](qint64 tookMs, const QList<FileInfo>& inputs) {
        std::atomic<bool> release = false;
        WheelEntry entry;
        entry.operations = {writingOperation(release)};
        const int endedBefore = ended;
        JobPtr job = center.submit(entry, inputs, {}, std::nullopt);
        clock.advance(tookMs);
        release = true;
        EXPECT_TRUE(waitFor([&] { return ended > endedBefore; }));
        return job;
    };

    // Nine seconds: no notification.
    run(9000, {files[0]});
    EXPECT_TRUE(desktop.notifications.isEmpty());

    // Twelve and a half seconds, two results: one notification, rounded away from zero.
    JobPtr job = run(12500, files);
    ASSERT_EQ(job->outputs().size(), 2);
    ASSERT_EQ(desktop.notifications.size(), 1);
    const auto& posted = desktop.notifications[0];
    EXPECT_EQ(posted.summary, QStringLiteral("Saved 2 files"));
    EXPECT_EQ(posted.body, QStringLiteral("Converting to ZIP finished in 13 s"));
    ASSERT_EQ(posted.actions.size(), 2);
    EXPECT_EQ(posted.actions[0].key, QStringLiteral("default"));
    EXPECT_EQ(posted.actions[0].label, QStringLiteral("Show in Folder"));
    EXPECT_EQ(posted.actions[1].key, QStringLiteral("reveal"));
    EXPECT_EQ(posted.actions[1].label, QStringLiteral("Show in Folder"));
    EXPECT_EQ(posted.category, QStringLiteral("transfer.complete"));

    // The first result is gone before the click: only the second is shown.
    ASSERT_TRUE(QFile::remove(job->outputs()[0].toLocalFile()));
    desktop.click(0, QStringLiteral("reveal"));
    ASSERT_TRUE(waitFor([&] { return workspace.revealed.size() == 1; }));
    EXPECT_EQ(workspace.revealed[0], QList<QUrl>{job->outputs()[1]});

    // Reveals run in order: had the unknown action done anything, it would show before the body's.
    desktop.click(0, QStringLiteral("snooze"));
    desktop.click(0, QStringLiteral("default"));
    ASSERT_TRUE(waitFor([&] { return workspace.revealed.size() >= 2; }));
    EXPECT_EQ(workspace.revealed.size(), 2);
    EXPECT_EQ(workspace.revealed[1], QList<QUrl>{job->outputs()[1]});

    // Nothing left: nothing to show.
    ASSERT_TRUE(QFile::remove(job->outputs()[1].toLocalFile()));
    notifications.revealPaths(desktop.notifications[0].payload.toStringList());
    EXPECT_EQ(workspace.revealed.size(), 2);
}

TEST(Notifications, AFailedJobIsPostedAndAFailedPostOnlyLogsALine)
{
    test::FakeClock clock;
    test::FakeDesktopNotifications desktop;
    RecordingWorkspace workspace;
    Notifications notifications(desktop, workspace, clock);

    auto job = std::make_shared<Job>(QStringLiteral("Compressing"), QString(), 1, QStringLiteral("a.pdf"),
                                     std::nullopt, clock.now());
    job->setFailure(JobFailure{QStringLiteral("Not enough disk space"), QStringLiteral("ENOSPC")});
    job->setState(Job::State::failed);
    notifications.postJobFinished(job);
    ASSERT_EQ(desktop.notifications.size(), 1);
    EXPECT_EQ(desktop.notifications[0].summary, QStringLiteral("Couldn't compress"));
    EXPECT_EQ(desktop.notifications[0].category, QStringLiteral("transfer.error"));

    job->setState(Job::State::cancelled);
    notifications.postJobFinished(job);
    notifications.postJobFinished(nullptr);
    EXPECT_EQ(desktop.notifications.size(), 1);

    test::LogCapture log;
    Q_EMIT desktop.failed(QStringLiteral("The name org.freedesktop.Notifications was not provided"));
    EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.jobs"),
                             QStringLiteral("Notification failed: The name org.freedesktop.Notifications was not provided")));
    bool critical = false;
    for (const auto& line : log.lines())
        critical = critical || (line.category == QLatin1String("quorvenda.jobs") && line.type == QtCriticalMsg);
    EXPECT_TRUE(critical);
    EXPECT_TRUE(workspace.revealed.isEmpty());
}

TEST(Notifications, ContentNamesTheOutcome)
{
    const QDateTime start(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    auto make = [&](Job::State state, QList<QUrl> outputs, qint64 tookMs) {
        auto job = std::make_shared<Job>(QStringLiteral("Converting to ZIP"), QString(), 1, QString(),
                                         std::nullopt, start);
        job->setOutputs(outputs);
        job->setState(state);
        if (tookMs >= 0)
            job->setFinishedAt(start.addMSecs(tookMs));
        return job;
    };
    const QUrl report = QUrl::fromLocalFile(QStringLiteral("/tmp/x/report.pdf"));

    auto one = Notifications::contentFor(*make(Job::State::finished, {report}, 12400), start);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->summary, QStringLiteral("Saved report.pdf"));
    EXPECT_EQ(one->body, QStringLiteral("Converting to ZIP finished in 12 s"));
    EXPECT_EQ(one->paths, QStringList{QStringLiteral("/tmp/x/report.pdf")});

    QList<QUrl> four;
    for (int i = 0; i < 4; ++i)
        four.append(QUrl::fromLocalFile(QStringLiteral("/tmp/x/%1.png").arg(i)));
    auto many = Notifications::contentFor(*make(Job::State::finished, four, 12490), start);
    EXPECT_EQ(many->summary, QStringLiteral("Saved 4 files"));
    EXPECT_EQ(many->body, QStringLiteral("Converting to ZIP finished in 12 s"));
    EXPECT_EQ(many->paths.size(), 4);
    EXPECT_EQ(many->paths[3], QStringLiteral("/tmp/x/3.png"));

    EXPECT_EQ(Notifications::contentFor(*make(Job::State::finished, {}, 5000), start)->summary,
              QStringLiteral("Saved 0 files"));
    // Without an end time the elapsed time runs to now.
    EXPECT_EQ(Notifications::contentFor(*make(Job::State::finished, {}, -1), start.addMSecs(20500))->body,
              QStringLiteral("Converting to ZIP finished in 21 s"));

    auto failed = make(Job::State::failed, {}, 1000);
    failed->setFailure(JobFailure{QStringLiteral("Not enough disk space"), QStringLiteral("ENOSPC")});
    auto failure = Notifications::contentFor(*failed, start);
    EXPECT_EQ(failure->summary, QStringLiteral("Couldn't convert to ZIP"));
    EXPECT_EQ(failure->body, QStringLiteral("Not enough disk space"));
    failed->setFailure(std::nullopt);
    EXPECT_TRUE(Notifications::contentFor(*failed, start)->body.isEmpty());

    EXPECT_FALSE(Notifications::contentFor(*make(Job::State::cancelled, {report}, 20000), start));
    EXPECT_FALSE(Notifications::contentFor(*make(Job::State::running, {}, -1), start));

    // What the result lacks of its input leads the body; other notes stay on the pill.
    auto sheets = make(Job::State::finished, {report}, 800);
    const QString lost = QStringLiteral("book.xlsx has 3 sheets: only the first, \u201CSales\u201D, was converted.");
    sheets->setMessages({QStringLiteral("42 % smaller"), lost});
    EXPECT_EQ(Notifications::lossNotes(*sheets), QStringList{lost});
    EXPECT_EQ(Notifications::contentFor(*sheets, start)->body, lost + QStringLiteral("\nConverting to ZIP finished in 1 s"));
    sheets->setMessages({QStringLiteral("42 % smaller")});
    EXPECT_TRUE(Notifications::lossNotes(*sheets).isEmpty());
}
