// The walls around a worker, tried from inside by a program the worker starts as it would
// start a decoder (quorvenda_test_attacker), with and without the namespaces.
#include "jobs/JobCenter.h"
#include "jobs/WorkerPool.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ChildProcess.h"
#include "platform/sandbox/WorkerSandbox.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/RunningProcesses.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <csignal>
#include <functional>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
using qv::test::waitFor;

namespace {

const QString misbehave = QStringLiteral("test.misbehave");

// A listening local socket, standing in for the X server, the session bus or an agent.
class Listener {
public:
    explicit Listener(const QByteArray& path, bool abstract = false)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const int offset = abstract ? 1 : 0;
        std::memcpy(address.sun_path + offset, path.constData(), std::size_t(path.size()));
        const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
        m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(m_fd, 8) == 0;
    }
    ~Listener() { ::close(m_fd); }
    bool ok() const { return m_ok; }

private:
    int m_fd = -1;
    bool m_ok = false;
};

// A listening TCP socket on the loopback; port() 0 when none could be made.
class TcpListener {
public:
    TcpListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(m_fd, 8) == 0
            && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~TcpListener() { ::close(m_fd); }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A program of the user's that a worker must leave alone.
class Bystander {
public:
    Bystander()
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl("/bin/sleep", "sleep", "300", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Bystander()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    pid_t pid() const { return m_pid; }
    // Its state letter in /proc: S sleeping, T stopped, Z ended.
    char state() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
        if (!stat.open(QIODevice::ReadOnly))
            return '?';
        const QByteArray line = stat.readAll();
        return line.mid(line.lastIndexOf(')') + 2, 1).at(0);
    }

private:
    pid_t m_pid = -1;
};

// Whether this kernel (or the container around it) lets an ordinary program make its own
// namespaces, as the workers do.
bool namespacesAvailable()
{
    static const bool available = [] {
        // The kernel's answer, whatever the setting says.
        const QByteArray setting = qgetenv("QUORVENDA_NO_NAMESPACES");
        qunsetenv("QUORVENDA_NO_NAMESPACES");
        const auto restore = qScopeGuard([&] {
            if (!setting.isNull())
                qputenv("QUORVENDA_NO_NAMESPACES", setting);
        });
        try {
            ChildProcess probe(QStringLiteral("/bin/true"), {}, QHash<QString, QString>{}, std::nullopt, false,
                               ChildProcess::Role::sandbox);
            const bool isolated = probe.isolated();
            probe.wait();
            return isolated;
        } catch (...) {
            return false;
        }
    }();
    return available;
}

// The same attack with no walls around it, to show that the check can fail: 0 when it worked.
int unwalled(const QStringList& words)
{
    return QProcess::execute(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_attacker"), words);
}

class WorkerWallsTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam() && !namespacesAvailable())
            GTEST_SKIP() << "no user namespaces here: the walls without them are tried in the other half";
        // The user's session, as a desktop leaves it in the environment.
        for (const char* name : {"DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS", "SSH_AUTH_SOCK", "QUORVENDA_NO_NAMESPACES"})
            saved.append({name, qgetenv(name)});
        qputenv("DISPLAY", ":97");
        qputenv("XAUTHORITY", QFile::encodeName(dir.filePath(QStringLiteral(".Xauthority"))));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(dir.filePath(QStringLiteral("bus"))));
        qputenv("SSH_AUTH_SOCK", QFile::encodeName(dir.filePath(QStringLiteral("agent"))));
        // Where the kernel refuses namespaces, they are asked for and refused, as on such a
        // desktop; elsewhere the setting turns them off.
        if (GetParam() || !namespacesAvailable())
            qunsetenv("QUORVENDA_NO_NAMESPACES");
        else
            qputenv("QUORVENDA_NO_NAMESPACES", "1");
        registerDefaultSettings(store);
        makePool();
    }

    void makePool()
    {
        center.reset();
        pool.reset();
        pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                            [](const QString& id) { return id == misbehave; }, 1);
        JobCenter::Services services;
        services.workers = pool.get();
        center = std::make_unique<JobCenter>(store, clock, services);
    }

    void TearDown() override
    {
        center.reset();
        pool.reset();
        for (const auto& [name, value] : saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

    bool namespaced() const { return GetParam(); }

    FileInfo file(const QString& name, const QByteArray& bytes)
    {
        return fileInfoForURL(QUrl::fromLocalFile(test::writeFile(dir.filePath(name), bytes)));
    }

    // A job of the stand-in's tool, one item a file, or one item of them all.
    JobPtr submitted(const QList<FileInfo>& files, MultiFileMode mode = MultiFileMode::each)
    {
        OperationDescriptor d;
        d.id = misbehave;
        d.verb = QStringLiteral("Testing");
        d.categories = {FileCategory::document, FileCategory::other, FileCategory::folder};
        d.multiFile = mode;
        WheelEntry entry;
        entry.id = misbehave;
        entry.operations = {d};
        return center->submit(entry, files, {}, std::nullopt);
    }

    JobPtr runToEnd(const QList<FileInfo>& files)
    {
        JobPtr job = submitted(files);
        EXPECT_TRUE(job);
        if (job) {
            EXPECT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
        }
        return job;
    }

    // Runs the attack from inside a worker; its sentence: "Refused" when the wall held.
    QString attack(const QByteArray& words)
    {
        static int count = 0;
        const JobPtr job = runToEnd({file(QStringLiteral("attack%1.txt").arg(++count), "attack:" + words)});
        if (!job || !job->failure())
            return QStringLiteral("no failure");
        return job->failure()->message + QStringLiteral(": ") + job->failure()->details.trimmed();
    }

    QTemporaryDir dir;
    QList<std::pair<const char*, QByteArray>> saved;
    SettingsStore store{QString()};
    test::FakeClock clock;
    std::unique_ptr<WorkerPool> pool;
    std::unique_ptr<JobCenter> center;
};

} // namespace

TEST_P(WorkerWallsTest, TheUsersSessionIsOutOfReach)
{
    // Nothing says where the X server, the session bus or an agent listens.
    EXPECT_TRUE(attack("env").startsWith(QStringLiteral("Refused"))) << attack("env").toStdString();

    // The X server's abstract socket, found by its well-known name.
    const QByteArray abstractName = "quorvenda-test-x-" + QByteArray::number(::getpid()) + (namespaced() ? "n" : "f");
    const Listener x(abstractName, true);
    ASSERT_TRUE(x.ok());
    if (!namespaced() && WorkerSandbox::landlockAbi() < 6)
        GTEST_SKIP() << "without namespaces, abstract sockets need Landlock ABI 6";
    const QString result = attack("abstract " + abstractName);
    EXPECT_TRUE(result.startsWith(QStringLiteral("Refused"))) << result.toStdString();
}

TEST_P(WorkerWallsTest, NoNetworkNotEvenThroughARing)
{
    const TcpListener server;
    ASSERT_GT(server.port(), 0);
    const QString tcp = attack("tcp " + QByteArray::number(server.port()));
    EXPECT_TRUE(tcp.startsWith(QStringLiteral("Refused"))) << tcp.toStdString();
    const QString ring = attack("iouring");
    EXPECT_TRUE(ring.startsWith(QStringLiteral("Refused"))) << ring.toStdString();
}

TEST_P(WorkerWallsTest, SignalsAndDebuggingStayInside)
{
    const Bystander bystander;
    ASSERT_TRUE(waitFor([&] { return bystander.state() == 'S'; }));
    if (!namespaced()) {
        // Every process the user may signal at once (signal 0 only asks whether any is there).
        const QString everyone = attack("signal -1 0");
        EXPECT_TRUE(everyone.startsWith(QStringLiteral("Refused"))) << everyone.toStdString();
    }
    const QString stop = attack("signal " + QByteArray::number(bystander.pid()) + " " + QByteArray::number(SIGSTOP));
    if (!namespaced() && WorkerSandbox::landlockAbi() < 6)
        GTEST_SKIP() << "without namespaces, signals are scoped from Landlock ABI 6";
    EXPECT_TRUE(stop.startsWith(QStringLiteral("Refused"))) << stop.toStdString();
    EXPECT_EQ(bystander.state(), 'S');
    // The application itself, which is the worker's parent.
    const QString kill = attack("signal " + QByteArray::number(::getpid()) + " " + QByteArray::number(SIGKILL));
    EXPECT_TRUE(kill.startsWith(QStringLiteral("Refused"))) << kill.toStdString();
    const QString trace = attack("ptrace " + QByteArray::number(bystander.pid()));
    EXPECT_TRUE(trace.startsWith(QStringLiteral("Refused"))) << trace.toStdString();
}

TEST_P(WorkerWallsTest, SecretsAndTheSessionsSocketsAreOutOfSight)
{
    // A key and the X server's cookie beside the input, as in a home folder, and a file in a
    // folder of its own.
    test::writeFile(dir.filePath(QStringLiteral(".ssh/id_rsa")), "secret");
    test::writeFile(dir.filePath(QStringLiteral(".Xauthority")), "cookie");
    QTemporaryDir elsewhere;
    const QString private_ = test::writeFile(elsewhere.filePath(QStringLiteral("private.txt")), "secret");
    for (const QByteArray& words : {"read " + QFile::encodeName(dir.filePath(QStringLiteral(".ssh/id_rsa"))),
                                    "read " + QFile::encodeName(dir.filePath(QStringLiteral(".Xauthority"))),
                                    "read " + QFile::encodeName(private_)}) {
        const QString result = attack(words);
        EXPECT_TRUE(result.startsWith(QStringLiteral("Refused"))) << words.toStdString() << ": " << result.toStdString();
    }
    // The input itself, and the files beside it, are read.
    test::writeFile(dir.filePath(QStringLiteral("beside.txt")), "fine");
    const QString beside = attack("read " + QFile::encodeName(dir.filePath(QStringLiteral("beside.txt"))));
    EXPECT_TRUE(beside.startsWith(QStringLiteral("Attack worked"))) << beside.toStdString();

    // A socket whose path it guesses: out of sight in its view, and never connected to.
    const Listener bus(QFile::encodeName(elsewhere.filePath(QStringLiteral("bus"))));
    ASSERT_TRUE(bus.ok());
    EXPECT_EQ(unwalled({QStringLiteral("unix"), elsewhere.filePath(QStringLiteral("bus"))}), 0);
    const QString result = attack("unix " + QFile::encodeName(elsewhere.filePath(QStringLiteral("bus"))));
    EXPECT_TRUE(result.startsWith(QStringLiteral("Refused"))) << result.toStdString();
}

TEST_P(WorkerWallsTest, HiddenEntriesAndSocketsStayOutOfSightAtEveryDepth)
{
    // An input in /tmp, where an agent keeps its socket in a folder that is not hidden, and
    // secrets in the folders beside it.
    const QString tmp = QStringLiteral("/tmp/quorvenda-walls-%1%2").arg(::getpid()).arg(namespaced() ? "n" : "f");
    const auto removeTmp = qScopeGuard([&] { QDir(tmp).removeRecursively(); });
    const QString secret = test::writeFile(tmp + QStringLiteral("/project/.env"), "secret");
    const QString deeper = test::writeFile(tmp + QStringLiteral("/project/notes/.git/config"), "secret");
    const QString picture = test::writeFile(tmp + QStringLiteral("/project/pictures/one.png"), "picture");
    // Names that are no UTF-8, as an old disk or another system's archive has them.
    const QByteArray project = QFile::encodeName(tmp + QStringLiteral("/project"));
    const QByteArray strangeKey = project + "/.k\xff" "ey";
    const QByteArray strangePicture = project + "/pictures/caf\xe9.png";
    for (const QByteArray& strange : {strangeKey, strangePicture}) {
        const int fd = ::open(strange.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "secret", 6), 6);
        ASSERT_EQ(::close(fd), 0);
    }
    ASSERT_TRUE(QDir().mkpath(tmp + QStringLiteral("/ssh-XXXXq1")));
    const QString agentPath = tmp + QStringLiteral("/ssh-XXXXq1/agent.42");
    const QString socketPath = tmp + QStringLiteral("/project/notes/app.sock");
    const Listener agent(QFile::encodeName(agentPath));
    const Listener socket(QFile::encodeName(socketPath));
    ASSERT_TRUE(agent.ok() && socket.ok());
    // Nothing but the walls keeps them out.
    EXPECT_EQ(unwalled({QStringLiteral("read"), secret}), 0);
    EXPECT_EQ(unwalled({QStringLiteral("read"), deeper}), 0);
    EXPECT_EQ(unwalled({QStringLiteral("unix"), agentPath}), 0);
    EXPECT_EQ(unwalled({QStringLiteral("unix"), socketPath}), 0);
    EXPECT_EQ(unwalled({QStringLiteral("hidden"), tmp + QStringLiteral("/project")}), 0);

    const QString input = test::writeFile(tmp + QStringLiteral("/attack.txt"), QByteArray());
    const auto attackFrom = [&](const QByteArray& words) {
        test::writeFile(input, "attack:" + words);
        const JobPtr job = runToEnd({fileInfoForURL(QUrl::fromLocalFile(input))});
        if (!job || !job->failure())
            return QStringLiteral("no failure");
        return job->failure()->message + QStringLiteral(": ") + job->failure()->details.trimmed();
    };
    for (const QString& words : {QStringLiteral("read ") + secret, QStringLiteral("read ") + deeper,
                                 QStringLiteral("unix ") + agentPath, QStringLiteral("unix ") + socketPath,
                                 QStringLiteral("hidden ") + tmp + QStringLiteral("/project")}) {
        const QString result = attackFrom(words.toUtf8());
        EXPECT_TRUE(result.startsWith(QStringLiteral("Refused"))) << words.toStdString() << ": " << result.toStdString();
    }
    // A document's own pictures are still there.
    const QString seen = attackFrom("read " + picture.toUtf8());
    EXPECT_TRUE(seen.startsWith(QStringLiteral("Attack worked"))) << seen.toStdString();
    const QString strange = attackFrom("plain " + picture.toUtf8().left(picture.toUtf8().lastIndexOf('/')));
    EXPECT_TRUE(strange.startsWith(QStringLiteral("Attack worked"))) << strange.toStdString();
}

TEST_P(WorkerWallsTest, AFolderMountedBelowAnInputsFolderIsWalledToo)
{
    // A removable disk, a network share or an AppImage mounted below the folder of an input.
    const QString mounted = dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(mounted));
    if (::mount("tmpfs", QFile::encodeName(mounted).constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "mounting needs root: " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(mounted).constData(), MNT_DETACH); });
    const QString shown = test::writeFile(mounted + QStringLiteral("/photo.jpg"), "photo");
    const QString hidden = test::writeFile(mounted + QStringLiteral("/.Trash-1000/info"), "secret");
    const Listener socket(QFile::encodeName(mounted + QStringLiteral("/run.sock")));
    ASSERT_TRUE(socket.ok());
    // The item runs (its view was built: nothing of /var/log in it) and sees what it may.
    if (namespaced()) {
        const QString outside = attack("exists /var/log");
        EXPECT_TRUE(outside.startsWith(QStringLiteral("Refused"))) << outside.toStdString();
    }
    const QString photo = attack("read " + QFile::encodeName(shown));
    EXPECT_TRUE(photo.startsWith(QStringLiteral("Attack worked"))) << photo.toStdString();
    for (const QByteArray& words : {"read " + QFile::encodeName(hidden), "write " + QFile::encodeName(mounted + QStringLiteral("/planted")),
                                    "unix " + QFile::encodeName(mounted + QStringLiteral("/run.sock"))}) {
        const QString result = attack(words);
        EXPECT_TRUE(result.startsWith(QStringLiteral("Refused"))) << words.toStdString() << ": " << result.toStdString();
    }
    EXPECT_FALSE(QFile::exists(mounted + QStringLiteral("/planted")));
}

TEST_P(WorkerWallsTest, WritesStayInTheItemsOwnFolder)
{
    // The input lies in the home folder: its start-up files are beside it.
    test::writeFile(dir.filePath(QStringLiteral(".bashrc")), "# mine\n");
    for (const QString& target : {dir.filePath(QStringLiteral(".bashrc")), dir.filePath(QStringLiteral(".config/autostart/x.desktop")),
                                  dir.filePath(QStringLiteral("planted.txt"))}) {
        const QString result = attack("write " + QFile::encodeName(target));
        EXPECT_TRUE(result.startsWith(QStringLiteral("Refused"))) << target.toStdString() << ": " << result.toStdString();
    }
    EXPECT_EQ(test::readFile(dir.filePath(QStringLiteral(".bashrc"))), "# mine\n");
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral(".config/autostart/x.desktop"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("planted.txt"))));

    // Another item's result waiting in another worker's folder.
    const QString other = TemporaryRoot::secure() + QStringLiteral("/.quorvenda-work-00000000-0000-0000-0000-00000000") + QString::number(::getpid() % 10000).rightJustified(4, u'0');
    const QString result = test::writeFile(other + QStringLiteral("/item-1/result-1/theirs.txt"), "theirs");
    const auto removeOther = qScopeGuard([&] { QDir(other).removeRecursively(); });
    const QString replaced = attack("write " + QFile::encodeName(result));
    EXPECT_TRUE(replaced.startsWith(QStringLiteral("Refused"))) << replaced.toStdString();
    EXPECT_EQ(test::readFile(result), "theirs");

    // Nobody's file in /tmp, and a socket there.
    QTemporaryFile victim(QStringLiteral("/tmp/quorvenda-victim-XXXXXX"));
    ASSERT_TRUE(victim.open());
    const QByteArray socketPath = "/tmp/quorvenda-planted-" + QByteArray::number(::getpid()) + (namespaced() ? "n" : "f");
    const auto removeSocket = qScopeGuard([&] { ::unlink(socketPath.constData()); });
    const QString removed = attack("remove " + QFile::encodeName(victim.fileName()));
    EXPECT_TRUE(removed.startsWith(QStringLiteral("Refused"))) << removed.toStdString();
    EXPECT_TRUE(QFile::exists(victim.fileName()));
    const QString bound = attack("bind " + socketPath);
    EXPECT_TRUE(QFileInfo::exists(QString::fromUtf8(socketPath)) == false) << bound.toStdString();
}

TEST_P(WorkerWallsTest, NothingItStartedOutlivesTheItem)
{
    // A number no other sleeper here has.
    const QByteArray seconds = QByteArray::number(5000 + ::getpid() % 1000 + (namespaced() ? 0 : 1000));
    const QByteArray commandLine = QByteArray("sleep\0", 6) + seconds + QByteArray("\0", 1);
    const auto sleepers = [&] { return test::processesRunning(commandLine); };
    const JobPtr job = runToEnd({file(QStringLiteral("escape.txt"), "spawn:escape " + seconds)});
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(sleepers(), 0);
    // Nor the application's quit.
    pool.reset();
    EXPECT_EQ(sleepers(), 0);
}

TEST_P(WorkerWallsTest, ProcessesAndMemoryCountForTheWholeSandbox)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory leaves no room for memory limits";
#endif
    const QString bomb = attack("fork 3000");
    EXPECT_FALSE(bomb.startsWith(QStringLiteral("Attack worked"))) << bomb.toStdString();
    // Three programs of 200 MB each, each under the 512 MB a worker may use.
    store.setValue(SettingsKey::workerMemory, 512);
    const QString memory = attack("memory 3 200");
    EXPECT_FALSE(memory.startsWith(QStringLiteral("Attack worked"))) << memory.toStdString();
    EXPECT_TRUE(memory.contains(QStringLiteral("512 MB"))) << memory.toStdString();
    // Memory files that nothing maps are nobody's resident memory, and count all the same.
    EXPECT_EQ(unwalled({QStringLiteral("memfd"), QStringLiteral("6"), QStringLiteral("100")}), 0);
    const QString files = attack("memfd 6 100");
    EXPECT_FALSE(files.startsWith(QStringLiteral("Attack worked"))) << files.toStdString();
    EXPECT_TRUE(files.contains(QStringLiteral("512 MB"))) << files.toStdString();
}

TEST_P(WorkerWallsTest, NothingOutlivesAWorkerItsProgramKilled)
{
    const QByteArray seconds = QByteArray::number(7000 + ::getpid() % 1000 + (namespaced() ? 0 : 1000));
    const QByteArray commandLine = QByteArray("sleep\0", 6) + seconds + QByteArray("\0", 1);
    const auto sleepers = [&] { return test::processesRunning(commandLine); };
    const JobPtr job = runToEnd({file(QStringLiteral("abandon.txt"), "spawn:abandon " + seconds)});
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_TRUE(waitFor([&] { return sleepers() == 0; }, 5000)) << sleepers() << " left";
    // What keeps them is out of the decoder's reach where no namespace hides it.
    if (!namespaced()) {
        // Unwalled, from below a shell as from below a worker: its grandparent is this test,
        // whoever started the test.
        EXPECT_EQ(QProcess::execute(QStringLiteral("/bin/sh"),
                                    {QStringLiteral("-c"), QStringLiteral("\"$0\" keeper; exit $?"),
                                     QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_attacker")}),
                  0);
        const QString keeper = attack("keeper");
        EXPECT_TRUE(keeper.startsWith(QStringLiteral("Refused"))) << keeper.toStdString();
    }
    pool.reset();
    EXPECT_EQ(sleepers(), 0);
}

TEST_P(WorkerWallsTest, ADecoderCompromisedByOneItemKeepsNothingForTheNext)
{
    // Planted in the process and in the programs' profile in its home: a later item beside it,
    // in the same job or the next, finds neither.
    const JobPtr planting = runToEnd({file(QStringLiteral("plant.txt"), "plant"), file(QStringLiteral("next.txt"), "planted?")});
    ASSERT_TRUE(planting);
    const QString sameJob = planting->failure()
        ? planting->failure()->message + QStringLiteral(": ") + planting->failure()->details
        : QStringLiteral("no failure");
    EXPECT_TRUE(sameJob.startsWith(QStringLiteral("Refused"))) << sameJob.toStdString();
    const QString nextJob = attack("planted?");
    EXPECT_TRUE(nextJob.startsWith(QStringLiteral("Refused"))) << nextJob.toStdString();

    // A result it keeps open and writes into from a thread of its own: what was placed stays
    // as it was when the job finished, and the next item has no descriptor to it.
    const JobPtr holding = runToEnd({file(QStringLiteral("hold.txt"), "hold")});
    ASSERT_TRUE(holding);
    ASSERT_EQ(holding->state(), Job::State::finished);
    ASSERT_EQ(holding->outputs().size(), 1);
    const QString placed = holding->outputs().first().toLocalFile();
    const QByteArray finished = test::readFile(placed);
    const QString rewrite = attack("rewrite");
    EXPECT_TRUE(rewrite.startsWith(QStringLiteral("Refused"))) << rewrite.toStdString();
    EXPECT_EQ(test::readFile(placed), finished);
}

TEST_P(WorkerWallsTest, AnInputSwappedForALinkAfterItWasChosenGivesNothingOfWhatTheLinkNames)
{
    QTemporaryDir elsewhere;
    const QString key = test::writeFile(elsewhere.filePath(QStringLiteral(".ssh/id_rsa")), "secret key");
    const QString go = dir.filePath(QStringLiteral("go"));
    const QString input = test::writeFile(dir.filePath(QStringLiteral("swapped.txt")), "await:" + go.toUtf8());
    const JobPtr job = submitted({fileInfoForURL(QUrl::fromLocalFile(input))});
    ASSERT_TRUE(job);
    // Chosen, then swapped while the item runs.
    ASSERT_TRUE(waitFor([&] { return job->progress().fractionCompleted() > 0; }, 60000));
    const QString link = dir.filePath(QStringLiteral("link.tmp"));
    ASSERT_TRUE(QFile::link(key, link));
    ASSERT_EQ(::rename(QFile::encodeName(link).constData(), QFile::encodeName(input).constData()), 0);
    test::writeFile(go, "go");
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
    for (const QUrl& output : job->outputs())
        EXPECT_NE(test::readFile(output.toLocalFile()), "secret key");
    if (job->failure()) {
        EXPECT_TRUE(job->failure()->message == QStringLiteral("Refused")
                    || job->failure()->message.contains(QStringLiteral("replaced")))
            << job->failure()->message.toStdString();
    }
}

TEST_P(WorkerWallsTest, AnInputSwappedAfterItWasCheckedIsNeverWhatTheWorkerReads)
{
    // Swapped once the application has opened and checked the input, before the worker's walls
    // go up: for another file of the same folder, or for a link to a file elsewhere.
    QTemporaryDir elsewhere;
    const QString key = test::writeFile(elsewhere.filePath(QStringLiteral("id_rsa")), "secret key");
    QString input;
    QString swapIn;
    pool->setInputsChecked([&](const WorkerProtocol::RunRequest&) {
        ASSERT_EQ(::rename(QFile::encodeName(swapIn).constData(), QFile::encodeName(input).constData()), 0);
    });
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link to a file elsewhere" : "another file of the folder");
        input = test::writeFile(dir.filePath(QStringLiteral("chosen %1.txt").arg(link)), "chosen bytes");
        swapIn = dir.filePath(QStringLiteral("swap.tmp"));
        if (link)
            ASSERT_TRUE(QFile::link(key, swapIn));
        else
            test::writeFile(swapIn, "another file");
        const JobPtr job = runToEnd({fileInfoForURL(QUrl::fromLocalFile(input))});
        ASSERT_TRUE(job);
        for (const QUrl& output : job->outputs())
            EXPECT_EQ(test::readFile(output.toLocalFile()), "chosen bytes");
        // Its path leads elsewhere when the worker looks, behind its walls, before it reads.
        ASSERT_TRUE(job->failure());
        EXPECT_EQ(job->failure()->message, WorkerProtocol::replacedMessage()) << job->failure()->details.toStdString();
    }
}

TEST_P(WorkerWallsTest, AnInputSwappedForAFileBesideItWhileTheItemRunsGivesNoResult)
{
    // What the walls let the worker read either way: it reads it, and nothing of it is placed.
    const QString go = dir.filePath(QStringLiteral("go"));
    const QString input = test::writeFile(dir.filePath(QStringLiteral("chosen.txt")), "await:" + go.toUtf8());
    const QString beside = test::writeFile(dir.filePath(QStringLiteral("beside.tmp")), "another file");
    const JobPtr job = submitted({fileInfoForURL(QUrl::fromLocalFile(input))});
    ASSERT_TRUE(job);
    ASSERT_TRUE(waitFor([&] { return job->progress().fractionCompleted() > 0; }, 60000));
    ASSERT_EQ(::rename(QFile::encodeName(beside).constData(), QFile::encodeName(input).constData()), 0);
    test::writeFile(go, "go");
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
    EXPECT_TRUE(job->outputs().isEmpty());
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, WorkerProtocol::replacedMessage()) << job->failure()->details.toStdString();
}

TEST_P(WorkerWallsTest, AnInputSwappedAndPutBackWhileTheItemRunsGivesNoResult)
{
    // Put back before the worker looks again: only the names' history tells.
    const QString go = dir.filePath(QStringLiteral("go"));
    const QString back = dir.filePath(QStringLiteral("back"));
    const QString input = test::writeFile(dir.filePath(QStringLiteral("chosen.txt")), "await:" + go.toUtf8() + '\n' + back.toUtf8());
    const QString beside = test::writeFile(dir.filePath(QStringLiteral("beside.tmp")), "another file");
    const QString aside = dir.filePath(QStringLiteral("aside.tmp"));
    const auto move = [](const QString& from, const QString& to) {
        return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
    };
    const JobPtr job = submitted({fileInfoForURL(QUrl::fromLocalFile(input))});
    ASSERT_TRUE(job);
    ASSERT_TRUE(waitFor([&] { return job->progress().fractionCompleted() > 0; }, 60000));
    ASSERT_TRUE(move(input, aside) && move(beside, input));
    test::writeFile(go, "go");
    // It has read by the path, whatever that led to.
    ASSERT_TRUE(waitFor([&] { return job->progress().fractionCompleted() > 0.6 || !job->isActive(); }, 60000));
    ASSERT_TRUE(move(input, beside) && move(aside, input));
    test::writeFile(back, "back");
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
    for (const QUrl& output : job->outputs())
        EXPECT_NE(test::readFile(output.toLocalFile()), "another file");
    EXPECT_TRUE(job->outputs().isEmpty());
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, WorkerProtocol::replacedMessage()) << job->failure()->details.toStdString();
}

TEST_P(WorkerWallsTest, FilesComingAndGoingBesideAnInputLeaveItsItemAlone)
{
    // Files come and go beside the input while the item runs, as in a downloads folder: the
    // item is not refused for them.
    const QString go = dir.filePath(QStringLiteral("go"));
    const QString input = test::writeFile(dir.filePath(QStringLiteral("chosen.txt")), "await:" + go.toUtf8());
    const JobPtr job = submitted({fileInfoForURL(QUrl::fromLocalFile(input))});
    ASSERT_TRUE(job);
    ASSERT_TRUE(waitFor([&] { return job->progress().fractionCompleted() > 0; }, 60000));
    for (int i = 0; i < 50; ++i) {
        const QString part = test::writeFile(dir.filePath(QStringLiteral("download %1.part").arg(i)), "part");
        ASSERT_EQ(::rename(QFile::encodeName(part).constData(), QFile::encodeName(dir.filePath(QStringLiteral("download %1").arg(i))).constData()), 0);
        ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("download %1").arg(i))));
    }
    test::writeFile(go, "go");
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
    EXPECT_FALSE(job->failure()) << job->failure()->message.toStdString() << ": " << job->failure()->details.toStdString();
    ASSERT_EQ(job->outputs().size(), 1);
    EXPECT_EQ(test::readFile(job->outputs().first().toLocalFile()), "await:" + go.toUtf8());
}

TEST_P(WorkerWallsTest, AFolderGivenWholeAndSwappedAfterItWasChosenGivesNothingOfTheOther)
{
    // Renamed away once the application has checked it (before the worker's walls go up) or
    // while the item runs, and replaced by another folder or by a link to a folder elsewhere.
    QTemporaryDir elsewhere;
    test::writeFile(elsewhere.filePath(QStringLiteral("id_rsa")), "secret key");
    std::function<void()> swap;
    pool->setInputsChecked([&](const WorkerProtocol::RunRequest&) {
        if (swap)
            swap();
    });
    int round = 0;
    for (const bool whileRunning : {false, true}) {
        for (const bool link : {false, true}) {
            SCOPED_TRACE(std::string(whileRunning ? "while the item runs, " : "before the walls, ")
                         + (link ? "a link to a folder elsewhere" : "another folder"));
            const QString chosen = dir.filePath(QStringLiteral("chosen %1").arg(++round));
            const QString moved = dir.filePath(QStringLiteral("moved %1").arg(round));
            test::writeFile(chosen + QStringLiteral("/a.txt"), "chosen bytes");
            const QString other = link ? elsewhere.path() : dir.filePath(QStringLiteral("other %1").arg(round));
            if (!link)
                test::writeFile(other + QStringLiteral("/id_rsa"), "secret key");
            const auto swapNow = [&] {
                ASSERT_EQ(::rename(QFile::encodeName(chosen).constData(), QFile::encodeName(moved).constData()), 0);
                if (link) {
                    ASSERT_TRUE(QFile::link(other, chosen));
                } else {
                    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(chosen).constData()), 0);
                }
            };
            // Where the worker looks for the word to go on: in its view, the folder held; without
            // one, beside it.
            const QString go = namespaced() ? chosen + QStringLiteral("/go") : dir.filePath(QStringLiteral("go %1").arg(round));
            if (whileRunning)
                test::writeFile(chosen + QStringLiteral("/await"), QFile::encodeName(go));
            swap = whileRunning ? std::function<void()>() : std::function<void()>(swapNow);
            const JobPtr job = submitted({fileInfoForURL(QUrl::fromLocalFile(chosen))});
            ASSERT_TRUE(job);
            if (whileRunning) {
                ASSERT_TRUE(waitFor([&] { return job->progress().fractionCompleted() > 0; }, 60000));
                swapNow();
                test::writeFile(namespaced() ? moved + QStringLiteral("/go") : go, "go");
            }
            ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
            for (const QUrl& output : job->outputs()) {
                const QByteArray read = test::readFile(output.toLocalFile());
                EXPECT_FALSE(read.contains("secret")) << read.constData();
                EXPECT_TRUE(read.contains("a.txt: chosen bytes")) << read.constData();
            }
            // In its view the folder held stays what it shows: it reads that one to its end.
            // Elsewhere its path leads to the other one when the worker looks.
            if (namespaced() && whileRunning) {
                EXPECT_EQ(job->state(), Job::State::finished)
                    << (job->failure() ? job->failure()->details.toStdString() : std::string());
                continue;
            }
            ASSERT_TRUE(job->failure());
            EXPECT_EQ(job->failure()->message, WorkerProtocol::replacedMessage()) << job->failure()->details.toStdString();
            EXPECT_TRUE(job->outputs().isEmpty());
        }
    }
    // The honest case: a folder left alone is read whole, hidden files too, and to its end
    // however many entries come before its last folder; nothing beside it, even through what
    // the worker was handed.
    swap = nullptr;
    const QString kept = dir.filePath(QStringLiteral("kept"));
    test::writeFile(dir.filePath(QStringLiteral("beside.txt")), "secret beside");
    test::writeFile(kept + QStringLiteral("/a.txt"), "kept bytes");
    test::writeFile(kept + QStringLiteral("/.hidden"), "hidden bytes");
    test::writeFile(kept + QStringLiteral("/escape"), "../beside.txt");
    ASSERT_TRUE(QDir().mkpath(kept + QStringLiteral("/many")));
    for (int i = 0; i < 4500; ++i)
        ASSERT_TRUE(QFile(kept + QStringLiteral("/many/%1").arg(i)).open(QIODevice::WriteOnly));
    test::writeFile(kept + QStringLiteral("/z/last.txt"), "last bytes");
    const JobPtr job = runToEnd({fileInfoForURL(QUrl::fromLocalFile(kept))});
    ASSERT_TRUE(job);
    ASSERT_EQ(job->state(), Job::State::finished) << (job->failure() ? job->failure()->details.toStdString() : std::string());
    ASSERT_EQ(job->outputs().size(), 1);
    const QByteArray read = test::readFile(job->outputs().first().toLocalFile());
    EXPECT_TRUE(read.startsWith(".hidden: hidden bytes\na.txt: kept bytes\nescape: ../beside.txt\nmany/"))
        << read.left(200).constData();
    EXPECT_TRUE(read.endsWith("\nz/last.txt: last bytes\n")) << read.right(200).constData();
    EXPECT_EQ(read.count('\n'), 4504);
}

TEST_P(WorkerWallsTest, AnItemOfMoreInputsThanTheDesktopsLimitAllowsHoldsEveryOne)
{
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    if (before.rlim_max < 1024)
        GTEST_SKIP() << "the hard limit on open files is " << before.rlim_max << " here";
    const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &before); });
    // Started as a desktop starts programs, the application makes its pool; a quarter of this
    // limit would hold 16 of them.
    const struct rlimit given {64, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &given), 0);
    makePool();
    QList<FileInfo> files;
    for (int i = 0; i < 40; ++i)
        files.append(file(QStringLiteral("page %1.txt").arg(i), "page " + QByteArray::number(i)));
    qsizetype held = -1;
    pool->setInputsChecked([&](const WorkerProtocol::RunRequest& request) {
        held = std::count_if(request.descriptors.begin(), request.descriptors.end(), [](int fd) { return fd >= 0; });
    });
    JobPtr job = submitted(files, MultiFileMode::combine);
    ASSERT_TRUE(job);
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
    EXPECT_EQ(held, 40);
    // And the worker took every one of them.
    EXPECT_FALSE(job->failure()) << job->failure()->message.toStdString() << ": " << job->failure()->details.toStdString();
    EXPECT_EQ(job->outputs().size(), 40);
}

TEST_P(WorkerWallsTest, AWorkerWithAThreadThatPredatesItsWallsReadsNothing)
{
    // Landlock would hold for the thread that put it up, not for the one before it.
    center.reset();
    pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_threaded_worker"),
                                        [](const QString& id) { return id == misbehave; }, 1);
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    const JobPtr job = runToEnd({file(QStringLiteral("plain.txt"), "plain bytes")});
    ASSERT_TRUE(job && job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("This file couldn't be opened safely"));
    EXPECT_TRUE(job->failure()->details.contains(QStringLiteral("thread"))) << job->failure()->details.toStdString();
    EXPECT_TRUE(job->outputs().isEmpty());
}

TEST_P(WorkerWallsTest, AnInputsDescriptorReachesNoProgramAndEndsWithItsItem)
{
    const QString input = dir.filePath(QStringLiteral("holder.txt"));
    test::writeFile(input, "attack:held " + QFile::encodeName(input));
    const JobPtr job = runToEnd({fileInfoForURL(QUrl::fromLocalFile(input))});
    ASSERT_TRUE(job && job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("Refused")) << job->failure()->details.toStdString();
    // Nor do we hold it once the item is over.
    struct stat wanted {};
    ASSERT_EQ(::stat(QFile::encodeName(input).constData(), &wanted), 0);
    for (const QFileInfo& entry : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        struct stat status {};
        if (::stat(QFile::encodeName(entry.filePath()).constData(), &status) == 0) {
            EXPECT_FALSE(status.st_dev == wanted.st_dev && status.st_ino == wanted.st_ino) << entry.fileName().toStdString();
        }
    }
}

TEST_P(WorkerWallsTest, ADestinationSwappedForALinkMidJobTakesNoResult)
{
    QTemporaryDir elsewhere;
    const QString folder = dir.filePath(QStringLiteral("photos"));
    const QString moved = dir.filePath(QStringLiteral("photos moved"));
    // Where the worker looks for the word to go on: in its view, the folder as it was; without
    // one, beside it (what is there is known to it, if not readable).
    const QString go = namespaced() ? folder + QStringLiteral("/go") : dir.filePath(QStringLiteral("go"));
    const QString input = test::writeFile(folder + QStringLiteral("/in.txt"), "await:" + QFile::encodeName(go));
    const JobPtr job = submitted({fileInfoForURL(QUrl::fromLocalFile(input))});
    ASSERT_TRUE(job);
    // The folder moves away and a link to another takes its name while the item runs.
    ASSERT_TRUE(waitFor([&] { return job->progress().fractionCompleted() > 0; }, 60000));
    ASSERT_TRUE(QDir().rename(folder, moved));
    ASSERT_TRUE(QFile::link(elsewhere.path(), folder));
    test::writeFile(namespaced() ? moved + QStringLiteral("/go") : go, "go");
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_TRUE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        << QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(u' ').toStdString();
}

TEST_P(WorkerWallsTest, AnInputThatIsALinkToAFileInAnotherFolderIsRead)
{
    QTemporaryDir elsewhere;
    const QString target = test::writeFile(elsewhere.filePath(QStringLiteral("report.txt")), "the report");
    const QString link = dir.filePath(QStringLiteral("report link.txt"));
    ASSERT_TRUE(QFile::link(target, link));
    const JobPtr job = runToEnd({fileInfoForURL(QUrl::fromLocalFile(link))});
    ASSERT_TRUE(job);
    ASSERT_EQ(job->state(), Job::State::finished)
        << (job->failure() ? (job->failure()->message + u' ' + job->failure()->details).toStdString() : std::string());
    ASSERT_EQ(job->outputs().size(), 1);
    // Beside the link the user chose, under its name.
    EXPECT_EQ(QFileInfo(job->outputs().first().toLocalFile()).absolutePath(), QFileInfo(link).absolutePath());
    EXPECT_TRUE(job->outputs().first().fileName().startsWith(QStringLiteral("report link"))) << job->outputs().first().fileName().toStdString();
    EXPECT_EQ(test::readFile(job->outputs().first().toLocalFile()), "the report");
}

TEST_P(WorkerWallsTest, AnItemThatMakesNoProgressEndsWithASentence)
{
    store.setValue(SettingsKey::workerPatience, 2);
    const JobPtr spinning = runToEnd({file(QStringLiteral("spin.txt"), "hang")});
    ASSERT_TRUE(spinning->failure());
    EXPECT_EQ(spinning->failure()->message, QStringLiteral("This file took too long and was stopped"));
    // A worker that is stopped uses no processor time either.
    const JobPtr stopped = runToEnd({file(QStringLiteral("stop.txt"), "stop")});
    ASSERT_TRUE(stopped->failure());
    EXPECT_EQ(stopped->failure()->message, QStringLiteral("This file took too long and was stopped"));
    EXPECT_TRUE(stopped->failure()->details.contains(QStringLiteral("no processor time"))) << stopped->failure()->details.toStdString();
}

TEST_P(WorkerWallsTest, AnItemSlowedByABusyMachineIsNotTakenForAHang)
{
    // Six seconds against two of patience, but only a tenth of them on the processor.
    store.setValue(SettingsKey::workerPatience, 2);
    const JobPtr crawling = runToEnd({file(QStringLiteral("crawl.txt"), "crawl:6")});
    ASSERT_TRUE(crawling);
    EXPECT_EQ(crawling->state(), Job::State::finished)
        << (crawling->failure() ? crawling->failure()->details.toStdString() : std::string());
}

TEST_P(WorkerWallsTest, NoNamespacesOfItsOwn)
{
    if (namespacesAvailable()) {
        EXPECT_EQ(unwalled({QStringLiteral("newuser")}), 0);
        EXPECT_EQ(unwalled({QStringLiteral("newuser3")}), 0);
    }
    for (const QByteArray& words : {QByteArray("newuser"), QByteArray("newuser3")}) {
        const QString result = attack(words);
        EXPECT_TRUE(result.startsWith(QStringLiteral("Refused"))) << words.toStdString() << ": " << result.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Walls, WorkerWallsTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Namespaces") : std::string("WithoutNamespaces");
                         });
