#include "platform/files/InputFile.h"

#include "model/files/FileInfo.h"
#include "model/files/NativeFileName.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;

namespace {

QString messageOf(const QString& path)
{
    const std::optional<EngineError> error = InputFile::problem(QUrl::fromLocalFile(path));
    return error ? error->message() : QString();
}

// A socket bound at path; closed with the test.
struct BoundSocket {
    explicit BoundSocket(const QString& path)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::memcpy(address.sun_path, native.constData(), std::min<size_t>(native.size(), sizeof address.sun_path - 1));
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~BoundSocket() { ::close(fd); }
    int fd = -1;
    bool bound = false;
};

} // namespace

TEST(InputFile, PipesSocketsDevicesAndLinkLoopsAreRefusedWithoutBeingOpened)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo.jpg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = dir.filePath(QStringLiteral("zero.jpg"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    const QString loopA = dir.filePath(QStringLiteral("a.png"));
    const QString loopB = dir.filePath(QStringLiteral("b.png"));
    ASSERT_TRUE(QFile::link(loopB, loopA));
    ASSERT_TRUE(QFile::link(loopA, loopB));
    const QString dangling = dir.filePath(QStringLiteral("gone.png"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nothing.png")), dangling));
    // Socket paths are short: bind in a folder of its own under /tmp.
    QTemporaryDir socketDir(QStringLiteral("/tmp/qv-XXXXXX"));
    const QString socketPath = socketDir.filePath(QStringLiteral("s.jpg"));
    const BoundSocket socket(socketPath);
    ASSERT_TRUE(socket.bound);

    // A pipe opened for reading waits for a writer: a problem that opened it would hang here.
    EXPECT_EQ(messageOf(fifo), QStringLiteral("This is a pipe, not a file Quorvenda can read"));
    EXPECT_EQ(messageOf(zero), QStringLiteral("This is a device, not a file Quorvenda can read"));
    EXPECT_EQ(messageOf(socketPath), QStringLiteral("This is a socket, not a file Quorvenda can read"));
    EXPECT_EQ(messageOf(loopA), InputFile::linkLoopMessage);
    EXPECT_EQ(messageOf(dangling), InputFile::danglingLinkMessage);
    // The operation reports a file that is simply missing in its own words.
    EXPECT_EQ(messageOf(dir.filePath(QStringLiteral("missing.png"))), QString());

    const QString plain = test::writeFile(dir.filePath(QStringLiteral("photo.jpg")));
    const QString link = dir.filePath(QStringLiteral("link.jpg"));
    ASSERT_TRUE(QFile::link(plain, link));
    EXPECT_EQ(messageOf(plain), QString());
    EXPECT_EQ(messageOf(link), QString());
    EXPECT_EQ(messageOf(dir.path()), QString());

    // The wheel's look: from what fileInfoForURL found, without the disk.
    const FileInfo pipe = fileInfoForURL(QUrl::fromLocalFile(fifo));
    EXPECT_EQ(pipe.category, FileCategory::other);
    EXPECT_EQ(InputFile::refusedFileMessage(pipe), QStringLiteral("This is a pipe, not a file Quorvenda can read"));
    EXPECT_EQ(InputFile::refusedFileMessage(fileInfoForURL(QUrl::fromLocalFile(zero))),
              QStringLiteral("This is a device, not a file Quorvenda can read"));
    EXPECT_EQ(InputFile::refusedFileMessage(fileInfoForURL(QUrl::fromLocalFile(plain))), std::nullopt);
    EXPECT_EQ(InputFile::refusedFileMessage(fileInfoForURL(QUrl::fromLocalFile(dir.path()))), std::nullopt);

    try {
        InputFile::check({fileInfoForURL(QUrl::fromLocalFile(plain)), pipe});
        ADD_FAILURE() << "a pipe was let through";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("This is a pipe, not a file Quorvenda can read"));
        EXPECT_TRUE(error.log().contains(fifo));
    }
}

TEST(InputFile, ANameThatIsNotUtf8IsRefusedNeverReadAsItsTwin)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray odd = folder + "/x\xff.jpg";
    QFile twin(dir.filePath(QString::fromUtf8("x\xef\xbf\xbd.jpg")));
    ASSERT_TRUE(twin.open(QIODevice::WriteOnly));
    twin.write("twin");
    twin.close();
    const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);

    const QUrl url = fileUrlForNativePath(odd);
    const FileInfo info = fileInfoForURL(url);
    EXPECT_EQ(info.category, FileCategory::other);
    EXPECT_EQ(info.size, 0); // nothing of the twin's four bytes was looked at
    EXPECT_EQ(InputFile::refusedFileMessage(info), QStringLiteral("Quorvenda can't read this file's name"));
    const std::optional<EngineError> error = InputFile::problem(url);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message(), QStringLiteral("Quorvenda can't read this file's name"));
    EXPECT_TRUE(error->log().contains(QLatin1String("%FF")));

    const FileInfo twinInfo = fileInfoForURL(QUrl::fromLocalFile(twin.fileName()));
    EXPECT_EQ(twinInfo.category, FileCategory::image);
    EXPECT_EQ(InputFile::refusedFileMessage(twinInfo), std::nullopt);
    EXPECT_FALSE(InputFile::problem(twinInfo.url));
}

// Root reads every file: the check runs as nobody in a child process.
TEST(InputFile, AFileThisUserMayNotReadIsSaidSo)
{
    QTemporaryDir dir(QStringLiteral("/tmp/qv-read-XXXXXX"));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    const QString locked = test::writeFile(dir.filePath(QStringLiteral("locked.png")));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0200), 0);
    const QString open = test::writeFile(dir.filePath(QStringLiteral("open.png")));
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0644), 0);

    const auto messageAsUser = [](const QString& path) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return QStringLiteral("(no pipe)");
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(3);
            const QByteArray text = messageOf(path).toUtf8();
            const ssize_t written = ::write(pipeFds[1], text.constData(), size_t(text.size()));
            ::_exit(written == text.size() ? 0 : 4);
        }
        ::close(pipeFds[1]);
        QByteArray text;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            text.append(buffer, n);
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? QString::fromUtf8(text) : QStringLiteral("(child failed)");
    };
    EXPECT_EQ(messageAsUser(locked), QStringLiteral("Quorvenda isn't allowed to read this file"));
    EXPECT_EQ(messageAsUser(open), QString());
}
