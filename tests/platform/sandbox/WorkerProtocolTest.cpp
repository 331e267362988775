#include "platform/sandbox/WorkerProtocol.h"

#include "model/files/FileFormat.h"

#include <gtest/gtest.h>

#include <QFile>

#include <QJsonDocument>

#include <QTemporaryDir>

#include <QJsonArray>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qv;
using namespace qv::WorkerProtocol;

TEST(WorkerProtocol, ARequestCrossesWhole)
{
    RunRequest request;
    request.operationId = QStringLiteral("convert.image.png");
    FileInfo file;
    file.url = QUrl::fromLocalFile(QStringLiteral("/home/u/Pictures/é #1.jpg"));
    file.name = QStringLiteral("é #1.jpg");
    file.baseName = QStringLiteral("é #1");
    file.ext = QStringLiteral("jpg");
    file.format = formatForExtension(QStringLiteral("jpg"));
    file.category = FileCategory::image;
    file.size = 5'000'000'000;
    file.contentType = QStringLiteral("image/jpeg");
    file.frameCount = 3;
    file.isEncrypted = true;
    FileInfo silent = file;
    silent.hasAudio = false;
    FileInfo voiced = file;
    voiced.hasAudio = true;
    voiced.mediaDescription = QStringLiteral("Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'é #1.jpg':\n  Duration: 00:00:02.00");
    request.files = {file, silent, voiced};
    request.options = R"({"quality":0.5})";
    request.settings.saveLocation = SaveLocation::folder;
    request.settings.outputFolder = QUrl::fromLocalFile(QStringLiteral("/out"));
    request.settings.suffixes.insert(QStringLiteral("compress"), QStringLiteral("smaller"));
    request.settings.jpegQuality = 0.42;
    request.settings.videoCodec = VideoCodecChoice::hevc;
    request.settings.pdfCompression = PDFCompressionLevel::high;
    request.settings.alphaBackground = QStringLiteral("#00FF00");
    request.memoryLimitBytes = qint64(4096) << 20;
    request.cpuSeconds = 60;

    const std::optional<RunRequest> back = runRequest(runMessage(request));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->operationId, request.operationId);
    EXPECT_EQ(back->files, request.files);
    EXPECT_EQ(back->options, request.options);
    EXPECT_EQ(back->settings, request.settings);
    EXPECT_EQ(back->memoryLimitBytes, request.memoryLimitBytes);
    EXPECT_EQ(back->cpuSeconds, 60);
    EXPECT_FALSE(runRequest(progressMessage(0.5)));
}

TEST(WorkerProtocol, FramesArriveWholeFromPiecesAndBadOnesBreakTheStream)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_TRUE(writeFrame(fds[1], progressMessage(0.25)));
    ASSERT_TRUE(writeFrame(fds[1], doneMessage({QStringLiteral("file:///a")}, {}, QStringLiteral("text"))));
    char bytes[4096];
    const ssize_t got = ::read(fds[0], bytes, sizeof bytes);
    ::close(fds[0]);
    ::close(fds[1]);
    ASSERT_GT(got, 8);

    FrameReader reader;
    for (ssize_t i = 0; i < got; ++i)
        reader.append(QByteArray(bytes + i, 1));
    const std::optional<QJsonObject> first = reader.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->value(QStringLiteral("fraction")).toDouble(), 0.25);
    const std::optional<QJsonObject> second = reader.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->value(QStringLiteral("clipboard")).toString(), QStringLiteral("text"));
    EXPECT_FALSE(reader.next());

    FrameReader partial;
    partial.append(QByteArray(bytes, 6));
    EXPECT_FALSE(partial.next());
    EXPECT_FALSE(partial.broken());

    FrameReader huge;
    huge.append(QByteArray("\x7f\xff\xff\xff", 4));
    EXPECT_FALSE(huge.next());
    EXPECT_TRUE(huge.broken());

    FrameReader garbage;
    garbage.append(QByteArray("\0\0\0\3abc", 7));
    EXPECT_FALSE(garbage.next());
    EXPECT_TRUE(garbage.broken());
}

TEST(WorkerProtocol, AnItemWritesOnlyInItsWorkFolderAndReadsTheFoldersOfWhatItNames)
{
    QTemporaryDir work;
    RunRequest request;
    FileInfo file;
    file.url = QUrl::fromLocalFile(work.filePath(QStringLiteral("a.png")));
    QFile(file.path()).open(QIODevice::WriteOnly);
    request.files = {file};
    request.settings.fallbackFolder = QUrl::fromLocalFile(QStringLiteral("/tmp"));
    // Neither the source's folder nor where results go: the work folder alone.
    EXPECT_EQ(writableFolders(request), QStringList());
    request.workFolder = work.path();
    EXPECT_EQ(writableFolders(request), QStringList{work.path()});
    request.workFolder = QStringLiteral("/");
    EXPECT_EQ(writableFolders(request), QStringList());

    // Its inputs' folders, and files its options name, as the options name them.
    request.options = QJsonDocument(QJsonObject{{QStringLiteral("watermark"), QStringLiteral("/etc/hostname")}}).toJson();
    EXPECT_EQ(readableFolders(request), (QStringList{QStringLiteral("/etc"), work.path()}));
    EXPECT_EQ(readableFolders(QJsonObject{{QStringLiteral("path"), file.path()}}), QStringList{work.path()});
}

TEST(WorkerProtocol, AFolderCountCrossesAndOneThatIsNoCountBoundsToNothing)
{
    const QList<StagedResult> sent{{QStringLiteral("/w/result-1/a"), QStringLiteral("a"), QString(), 12001},
                                   {QStringLiteral("/w/result-2/b.txt"), QStringLiteral("b"), QStringLiteral("txt")}};
    const QList<StagedResult> got = stagedResults(doneMessage({}, {}, std::nullopt, sent));
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0].entries, std::optional<qint64>(12001));
    EXPECT_FALSE(got[1].entries);

    for (const QJsonValue& lie : {QJsonValue(-1), QJsonValue(2.5), QJsonValue(QStringLiteral("many")), QJsonValue(1e300)}) {
        const QJsonObject done{{QStringLiteral("staged"),
                                QJsonArray{QJsonObject{{QStringLiteral("path"), QStringLiteral("/w/result-1/a")},
                                                       {QStringLiteral("entries"), lie}}}}};
        const QList<StagedResult> read = stagedResults(done);
        ASSERT_EQ(read.size(), 1);
        EXPECT_EQ(read[0].entries, std::optional<qint64>(0));
    }
}

TEST(WorkerProtocol, InputsDescriptorsCrossBesideTheFrameInOrderAndAShortDeliveryTakesNone)
{
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    const auto closeEnds = qScopeGuard([&] {
        ::close(ends[0]);
        ::close(ends[1]);
    });
    // More files than one message carries, every other one held.
    QTemporaryDir dir;
    RunRequest request;
    QList<int> opened;
    for (int i = 0; i < 600; ++i) {
        FileInfo file;
        file.url = QUrl::fromLocalFile(dir.filePath(QStringLiteral("%1.txt").arg(i)));
        request.files.append(file);
        int fd = -1;
        if (i % 2 == 0) {
            QFile made(file.path());
            ASSERT_TRUE(made.open(QIODevice::WriteOnly) && made.write(QByteArray::number(i)) > 0);
            made.close();
            fd = ::open(QFile::encodeName(file.path()).constData(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
        }
        request.descriptors.append(fd);
    }
    const auto closeOpened = qScopeGuard([&] { closeDescriptors(request.descriptors); });
    ASSERT_TRUE(sendDescriptors(ends[0], request.descriptors));
    std::optional<RunRequest> received = runRequest(runMessage(request));
    ASSERT_TRUE(received);
    ASSERT_EQ(received->descriptors.size(), 600);
    ASSERT_TRUE(receiveDescriptors(ends[1], received->descriptors));
    const auto closeReceived = qScopeGuard([&] { closeDescriptors(received->descriptors); });
    for (int i = 0; i < 600; ++i) {
        if (i % 2 == 1) {
            EXPECT_EQ(received->descriptors[i], -1);
            continue;
        }
        const int fd = received->descriptors[i];
        ASSERT_GE(fd, 0);
        EXPECT_EQ(fileIdentity(fd), fileIdentity(request.files[i].path()));
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    }

    // Asked for more than came: nothing waits, and none is kept.
    QList<int> one{request.descriptors[0]};
    ASSERT_TRUE(sendDescriptors(ends[0], one));
    QList<int> awaited(3, awaitedDescriptor);
    EXPECT_FALSE(receiveDescriptors(ends[1], awaited));
    EXPECT_EQ(awaited, QList<int>(3, -1));
}
