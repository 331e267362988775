#include "jobs/JobCenter.h"
#include "jobs/Notifications.h"
#include "jobs/OutputPlanner.h"
#include "model/SettingsDefaults.h"
#include "platform/SettingsStore.h"
#include "platform/Workspace.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>

using namespace qv;
using qv::test::waitFor;

namespace {

// A notification server of our own on a private bus, so tests never reach the desktop's.
class FakeNotificationServer : public QDBusVirtualObject {
public:
    struct Call {
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Call> calls;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Notify"))
            return false;
        const QList<QVariant> args = message.arguments();
        calls.append({args.value(0).toString(), args.value(3).toString(), args.value(4).toString(),
                      args.value(5).toStringList()});
        connection.send(message.createReply(QVariant::fromValue(uint(100 + calls.size()))));
        return true;
    }
};

struct RecordingWorkspace : Workspace {
    QList<QList<QUrl>> revealed;
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>& urls) override { revealed.append(urls); }
};

class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000))
            address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        m_daemon.terminate();
        m_daemon.waitForFinished(3000);
    }
    QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(address, name); }

    QString address;

private:
    QProcess m_daemon;
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
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    QDBusConnection server = bus.connect(QStringLiteral("fake-server"));
    FakeNotificationServer fake;
    ASSERT_TRUE(server.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &fake));
    ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));

    SettingsStore store{QString()};
    registerDefaultSettings(store);
    test::FakeClock clock;
    RecordingWorkspace workspace;
    Notifications notifications(bus.connect(QStringLiteral("client")), workspace, clock);
    JobCenter center(store, clock, JobCenter::Services{nullptr, nullptr, nullptr, &notifications});
    QList<uint> posted;
    QObject::connect(&notifications, &Notifications::posted, [&](uint id) { posted.append(id); });

    QTemporaryDir dir;
    QList<FileInfo> files;
    for (const char* name : {"a.txt", "b.txt"})
        files.append(fileInfoForURL(QUrl::fromLocalFile(test::writeFile(dir.filePath(QString::fromLatin1(name))))));
    auto run = [&](qint64 tookMs, const QList<FileInfo>& inputs) {
        std::atomic<bool> release = false;
        WheelEntry entry;
        entry.operations = {writingOperation(release)};
        JobPtr job = center.submit(entry, inputs, {}, std::nullopt);
        clock.advance(tookMs);
        release = true;
        EXPECT_TRUE(waitFor([&] { return !job->isActive(); }));
        return job;
    };

    // Nine seconds: no notification.
    run(9000, {files[0]});
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(fake.calls.isEmpty());

    // Twelve and a half seconds, two results: one notification, rounded away from zero.
    JobPtr job = run(12500, files);
    ASSERT_EQ(job->outputs().size(), 2);
    ASSERT_TRUE(waitFor([&] { return posted.size() == 1; }));
    ASSERT_EQ(fake.calls.size(), 1);
    EXPECT_EQ(fake.calls[0].appName, QStringLiteral("Quorvenda"));
    EXPECT_EQ(fake.calls[0].summary, QStringLiteral("Saved 2 files"));
    EXPECT_EQ(fake.calls[0].body, QStringLiteral("Converting to ZIP finished in 13 s"));
    EXPECT_EQ(fake.calls[0].actions, (QStringList{QStringLiteral("default"), QStringLiteral("Show in Folder"),
                                                  QStringLiteral("reveal"), QStringLiteral("Show in Folder")}));
    const uint id = posted[0];
    EXPECT_EQ(notifications.openIds(), QList<uint>{id});

    // The first result is gone before the click: only the second is shown.
    ASSERT_TRUE(QFile::remove(job->outputs()[0].toLocalFile()));
    auto signal = [&](const char* member, const QVariantList& args) {
        QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                          QStringLiteral("org.freedesktop.Notifications"),
                                                          QString::fromLatin1(member));
        message.setArguments(args);
        server.send(message);
    };
    signal("ActionInvoked", {QVariant::fromValue(id), QStringLiteral("reveal")});
    ASSERT_TRUE(waitFor([&] { return workspace.revealed.size() == 1; }));
    EXPECT_EQ(workspace.revealed[0], QList<QUrl>{job->outputs()[1]});

    // Another program's notification, then ours closes: later clicks do nothing.
    signal("ActionInvoked", {QVariant::fromValue(uint(7)), QStringLiteral("default")});
    signal("NotificationClosed", {QVariant::fromValue(id), QVariant::fromValue(uint(2))});
    ASSERT_TRUE(waitFor([&] { return notifications.openIds().isEmpty(); }));
    signal("ActionInvoked", {QVariant::fromValue(id), QStringLiteral("default")});
    quiet.restart();
    while (quiet.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(workspace.revealed.size(), 1);
}

TEST(Notifications, WithoutANotificationServiceOnlyALineIsLogged)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty());
    test::FakeClock clock;
    RecordingWorkspace workspace;
    Notifications notifications(bus.connect(QStringLiteral("client")), workspace, clock);
    QList<uint> posted;
    QObject::connect(&notifications, &Notifications::posted, [&](uint id) { posted.append(id); });
    test::LogCapture log;

    auto job = std::make_shared<Job>(QStringLiteral("Compressing"), QString(), 1, QStringLiteral("a.pdf"),
                                     std::nullopt, clock.now());
    job->setState(Job::State::finished);
    notifications.postJobFinished(job);
    ASSERT_TRUE(waitFor([&] { return !posted.isEmpty(); }));
    EXPECT_EQ(posted[0], 0u);
    bool logged = false;
    for (const auto& line : log.lines())
        logged = logged || (line.category == QLatin1String("quorvenda.jobs") && line.type == QtCriticalMsg
                            && line.message.startsWith(QStringLiteral("Notification failed: ")));
    EXPECT_TRUE(logged);
    EXPECT_TRUE(notifications.openIds().isEmpty());
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
    EXPECT_EQ(failure->summary, QStringLiteral("Couldn't converting to ZIP"));
    EXPECT_EQ(failure->body, QStringLiteral("Not enough disk space"));
    failed->setFailure(std::nullopt);
    EXPECT_TRUE(Notifications::contentFor(*failed, start)->body.isEmpty());

    EXPECT_FALSE(Notifications::contentFor(*make(Job::State::cancelled, {report}, 20000), start));
    EXPECT_FALSE(Notifications::contentFor(*make(Job::State::running, {}, -1), start));
}
