#include "catalogue/archives/ArchiveProbe.h"
#include "model/operations/Capabilities.h"
#include "support/FakeClock.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace qv;

namespace {

// A machine made of answers: which paths are executable programs, what PATH finds,
// which probe archives are bundled and what listing each gives.
struct FakeMachine {
    QSet<QString> executables;
    QHash<QString, QString> environment;
    QHash<QString, QString> onPath;
    QStringList optFolders;
    QSet<QString> readable;
    QSet<QString> writable;
    QHash<QString, QByteArray> resources;
    QHash<QByteArray, ArchiveListing> listings;
    test::FakeClock clock;
    int officeLookups = 0;
    int listings_run = 0;

    Capabilities::Lookups lookups()
    {
        Capabilities::Lookups l;
        l.environmentVariable = [this](const char* name) { return environment.value(name); };
        l.isExecutableFile = [this](const QString& path) {
            if (path == QLatin1String("/usr/bin/soffice"))
                ++officeLookups;
            return executables.contains(path);
        };
        l.findOnPath = [this](const QString& program) -> std::optional<QString> {
            if (!onPath.contains(program))
                return std::nullopt;
            return onPath.value(program);
        };
        l.listFolder = [this](const QString& folder, const QString&) {
            return folder == QLatin1String("/opt") ? optFolders : QStringList{};
        };
        l.applicationDirPath = QStringLiteral("/app/bin");
        l.clock = &clock;
        l.readableImageFormatIds = [this] { return readable; };
        l.writableImageFormatIds = [this] { return writable; };
        l.probeResource = [this](const QString& name) -> std::optional<QByteArray> {
            if (!resources.contains(name))
                return std::nullopt;
            return resources.value(name);
        };
        l.listArchive = [this](const QByteArray& data) {
            ++listings_run;
            return listings.value(data, {ArchiveListing::Outcome::unreadable, "unknown"});
        };
        return l;
    }
};

// Collects the lines logged on the engines category while it lives.
class LogCapture {
public:
    LogCapture()
    {
        lines().clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (QLatin1String(context.category) == QLatin1String("quorvenda.engines"))
                    lines().append({type, text});
            });
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    static QList<std::pair<QtMsgType, QString>>& lines()
    {
        static QList<std::pair<QtMsgType, QString>> captured;
        return captured;
    }

private:
    QtMessageHandler m_previous = nullptr;
};

const QUrl kSoffice = QUrl::fromLocalFile("/usr/bin/soffice");

} // namespace

TEST(Capabilities, RefreshIsThrottledToOncePerThirtySeconds)
{
    FakeMachine machine;
    Capabilities caps(machine.lookups());
    EXPECT_EQ(machine.officeLookups, 1) << "creation refreshes, forced";
    EXPECT_FALSE(caps.libreOfficeURL());

    // LibreOffice appears; the 10 s later drag does not look again.
    machine.executables.insert("/usr/bin/soffice");
    machine.clock.advance(10'000);
    caps.refreshExternalApps(false);
    EXPECT_EQ(machine.officeLookups, 1);
    EXPECT_FALSE(caps.libreOfficeURL());

    // Exactly 30 s after the last refresh began: still throttled.
    machine.clock.advance(20'000);
    caps.refreshExternalApps(false);
    EXPECT_EQ(machine.officeLookups, 1);

    machine.clock.advance(1'000);
    caps.refreshExternalApps(false);
    EXPECT_EQ(machine.officeLookups, 2);
    EXPECT_EQ(caps.libreOfficeURL(), kSoffice);

    // Throttled again from the refresh just made; a forced one always looks.
    machine.executables.clear();
    machine.clock.advance(10'000);
    caps.refreshExternalApps(false);
    EXPECT_EQ(caps.libreOfficeURL(), kSoffice) << "an uninstalled program stays until a refresh";
    caps.refreshExternalApps(true);
    caps.refreshExternalApps(true);
    EXPECT_EQ(machine.officeLookups, 4);
    EXPECT_FALSE(caps.libreOfficeURL());

    // A clock set back does not hold refreshes off until it catches up.
    machine.clock.advance(-3'600'000);
    caps.refreshExternalApps(false);
    EXPECT_EQ(machine.officeLookups, 5);
}

TEST(Capabilities, LibreOfficeSearchOrder)
{
    FakeMachine machine;
    machine.optFolders = {"libreoffice24.2", "libreoffice7.6"};
    machine.executables = {"/opt/libreoffice24.2/program/soffice",
                           "/opt/libreoffice7.6/program/soffice", "/home/u/bin/soffice"};
    machine.onPath = {{"soffice", "/home/u/bin/soffice"}};
    EXPECT_EQ(Capabilities(machine.lookups()).libreOfficeURL(),
              QUrl::fromLocalFile("/opt/libreoffice7.6/program/soffice"))
        << "folders under /opt in natural order";

    machine.executables.insert("/usr/lib/libreoffice/program/soffice");
    EXPECT_EQ(Capabilities(machine.lookups()).libreOfficeURL(),
              QUrl::fromLocalFile("/usr/lib/libreoffice/program/soffice"))
        << "the system's copy before one under /opt";

    machine.executables.insert("/usr/bin/soffice");
    EXPECT_EQ(Capabilities(machine.lookups()).libreOfficeURL(), kSoffice);

    machine.executables = {"/home/u/bin/soffice"};
    EXPECT_EQ(Capabilities(machine.lookups()).libreOfficeURL(),
              QUrl::fromLocalFile("/home/u/bin/soffice"));

    machine.executables.clear(); // PATH names a file that is not executable
    EXPECT_FALSE(Capabilities(machine.lookups()).libreOfficeURL());
}

TEST(Capabilities, EngineAvailability)
{
    FakeMachine machine;
    machine.executables.insert("/usr/bin/soffice");
    Capabilities withOffice(machine.lookups());
    for (IWorkApp app : allCases<IWorkApp>()) {
        EXPECT_FALSE(withOffice.iworkAppURL(app));
        EXPECT_FALSE(withOffice.isAvailable(EngineID::iwork(app)));
        EXPECT_TRUE(withOffice.isAvailable(EngineID::office(app)));
    }
    EXPECT_TRUE(withOffice.isAvailable(EngineID::of(EngineID::Kind::libreOffice)));
    EXPECT_FALSE(withOffice.isAvailable(EngineID::of(EngineID::Kind::ffmpeg)));
    EXPECT_FALSE(withOffice.hasFFmpeg());

    machine.executables = {"/usr/local/bin/ffmpeg"};
    machine.onPath = {{"ffmpeg", "/usr/local/bin/ffmpeg"}};
    Capabilities bare(machine.lookups());
    EXPECT_FALSE(bare.isAvailable(EngineID::office(IWorkApp::pages)));
    EXPECT_FALSE(bare.isAvailable(EngineID::of(EngineID::Kind::libreOffice)));
    EXPECT_TRUE(bare.isAvailable(EngineID::of(EngineID::Kind::ffmpeg)));

    using K = EngineID::Kind;
    for (K kind : {K::imageIO, K::pdfKit, K::text, K::epub, K::ooxml, K::archive, K::subtitle,
                   K::system}) {
        EXPECT_TRUE(bare.isAvailable(EngineID::of(kind))) << int(kind);
        EXPECT_TRUE(withOffice.isAvailable(EngineID::of(kind))) << int(kind);
    }

    // Sending to devices needs KDE Connect's program.
    EXPECT_FALSE(bare.isAvailable(EngineID::of(K::deviceSharing)));
    EXPECT_FALSE(bare.kdeConnectURL());
    machine.executables.insert("/usr/bin/kdeconnect-cli");
    machine.onPath.insert("kdeconnect-cli", "/usr/bin/kdeconnect-cli");
    Capabilities paired(machine.lookups());
    EXPECT_TRUE(paired.isAvailable(EngineID::of(K::deviceSharing)));
    EXPECT_EQ(paired.kdeConnectURL(), QUrl::fromLocalFile("/usr/bin/kdeconnect-cli"));
}

TEST(Capabilities, VisionNeedsTheTextDataAndSubjectsTheirOwnCheck)
{
    FakeMachine machine;
    Capabilities unknown(machine.lookups());
    EXPECT_FALSE(unknown.isAvailable(EngineID::of(EngineID::Kind::vision)));
    EXPECT_FALSE(unknown.subjectLifting());

    Capabilities::Lookups lookups = machine.lookups();
    lookups.hasTextRecognitionData = [] { return true; };
    lookups.canLiftSubjects = [] { return false; };
    Capabilities withData(lookups);
    EXPECT_TRUE(withData.isAvailable(EngineID::of(EngineID::Kind::vision)));
    EXPECT_FALSE(withData.subjectLifting());

    lookups.hasTextRecognitionData = [] { return false; };
    lookups.canLiftSubjects = [] { return true; };
    Capabilities withoutData(lookups);
    EXPECT_FALSE(withoutData.isAvailable(EngineID::of(EngineID::Kind::vision)));
    EXPECT_TRUE(withoutData.subjectLifting());
}

TEST(Capabilities, ThePictureEngineNeedsItsLibraryWhereTheLookUpIsGiven)
{
    FakeMachine machine;
    const EngineID image = EngineID::of(EngineID::Kind::imageIO);
    EXPECT_TRUE(Capabilities(machine.lookups()).isAvailable(image));
    Capabilities::Lookups lookups = machine.lookups();
    lookups.hasImageLibrary = [] { return false; };
    EXPECT_FALSE(Capabilities(lookups).isAvailable(image));
    lookups.hasImageLibrary = [] { return true; };
    EXPECT_TRUE(Capabilities(lookups).isAvailable(image));
}

TEST(Capabilities, FFmpegSearchOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto makeProgram = [&](const QString& relative, bool executable) {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexit 0\n");
        file.close();
        file.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       : QFile::ReadOwner | QFile::WriteOwner);
        return path;
    };
    const QString fromEnv = makeProgram("custom/ffmpeg", true);
    const QString bundled = makeProgram("libexec/quorvenda/ffmpeg", true);
    const QString notExecutable = makeProgram("plain/ffmpeg", false);

    QString environment = fromEnv;
    Capabilities::Lookups lookups = Capabilities::Lookups::basic();
    lookups.environmentVariable = [&](const char* name) {
        return QByteArray(name) == "QUORVENDA_FFMPEG" ? environment : QString();
    };
    lookups.applicationDirPath = dir.filePath("bin");
    lookups.readableImageFormatIds = [] { return QSet<QString>{}; };
    lookups.writableImageFormatIds = [] { return QSet<QString>{}; };

    EXPECT_EQ(Capabilities(lookups).ffmpegURL(), QUrl::fromLocalFile(fromEnv));

    environment = notExecutable;
    EXPECT_EQ(Capabilities(lookups).ffmpegURL(), QUrl::fromLocalFile(bundled));

    QFile::remove(bundled);
    lookups.findOnPath = [](const QString&) -> std::optional<QString> { return std::nullopt; };
    const Capabilities none(lookups);
    EXPECT_FALSE(none.ffmpegURL());
    EXPECT_FALSE(none.hasFFmpeg());

    // The real environment variable is read by the default lookups.
    const QByteArray saved = qgetenv("QUORVENDA_FFMPEG");
    qputenv("QUORVENDA_FFMPEG", fromEnv.toUtf8());
    EXPECT_EQ(Capabilities(Capabilities::Lookups::basic()).ffmpegURL(),
              QUrl::fromLocalFile(fromEnv));
    qunsetenv("QUORVENDA_FFMPEG");
    // Debian's FFmpeg on PATH, since nothing sits beside the test program.
    EXPECT_EQ(Capabilities(Capabilities::Lookups::basic()).ffmpegURL(),
              QUrl::fromLocalFile("/usr/bin/ffmpeg"));
    if (!saved.isNull())
        qputenv("QUORVENDA_FFMPEG", saved);
}

TEST(Capabilities, ImageTypesAreTypeIdentifiersAndIncludeOwnWriters)
{
    FakeMachine machine;
    machine.readable = {"jpg", "png", "nonsense"};
    machine.writable = {"webp"};
    Capabilities caps(machine.lookups());
    EXPECT_EQ(caps.imageIOReadable(), (QSet<QString>{"public.jpeg", "public.png"}));
    EXPECT_EQ(caps.imageIOWritable(),
              (QSet<QString>{"org.webmproject.webp", "com.microsoft.ico", "com.apple.icns"}));

    FakeMachine empty;
    empty.readable.clear();
    EXPECT_TRUE(Capabilities(empty.lookups()).imageIOReadable().isEmpty());
}

// Asking the image library loads every format module it has; a job on an archive or a
// document never needs them, so they are asked for only when an image type is.
TEST(Capabilities, ImageTypesAreAskedForOnlyWhenReadAndOnce)
{
    FakeMachine machine;
    machine.readable = {"jpg"};
    machine.writable = {"png"};
    int asked = 0;
    Capabilities::Lookups lookups = machine.lookups();
    lookups.readableImageFormatIds = [&] { ++asked; return machine.readable; };
    lookups.writableImageFormatIds = [&] { ++asked; return machine.writable; };
    Capabilities caps(lookups);
    EXPECT_TRUE(caps.isAvailable(EngineID{EngineID::Kind::archive}));
    caps.refreshExternalApps(true);
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(caps.imageIOReadable().contains("public.jpeg"));
    EXPECT_TRUE(caps.imageIOWritable().contains("public.png"));
    caps.warmUp();
    caps.imageIOReadable();
    EXPECT_EQ(asked, 2);
}

TEST(Capabilities, ArchiveProbeRunsOnceAndLogs)
{
    const QSet<QString> base{"zip", "tar", "tar.gz", "tar.bz2", "tar.xz", "gz", "bz2", "xz"};
    FakeMachine machine;
    machine.resources = {{"probe.7z", "seven"}, {"probe.rar", "rar"}};
    machine.listings = {{"seven", {ArchiveListing::Outcome::listed, {}}},
                        {"rar", {ArchiveListing::Outcome::unreadable, "Damaged data"}}};
    {
        LogCapture log;
        Capabilities caps(machine.lookups());
        const QSet<QString> formats = caps.archiveFormats();
        EXPECT_EQ(formats, base + QSet<QString>{"7z"});
        EXPECT_FALSE(formats.contains("rar")) << "a rar file is not readable";
        EXPECT_EQ(machine.listings_run, 2);
        EXPECT_EQ(caps.probeArchiveFormats(), formats);
        EXPECT_EQ(caps.archiveFormats(), formats);
        EXPECT_EQ(machine.listings_run, 2) << "the stored set is returned without probing";
        ASSERT_EQ(LogCapture::lines().size(), 1) << "an unreadable probe logs nothing";
        EXPECT_EQ(LogCapture::lines()[0].first, QtInfoMsg);
        EXPECT_EQ(LogCapture::lines()[0].second,
                  "Archive formats: 7z, bz2, gz, tar, tar.bz2, tar.gz, tar.xz, xz, zip");
    }
    {
        // A missing resource is skipped silently; a reader that cannot start is logged.
        machine.resources.remove("probe.7z");
        machine.listings["rar"] = {ArchiveListing::Outcome::failed, "Out of memory"};
        LogCapture log;
        Capabilities caps(machine.lookups());
        EXPECT_EQ(caps.probeArchiveFormats(), base);
        ASSERT_EQ(LogCapture::lines().size(), 2);
        EXPECT_EQ(LogCapture::lines()[0].first, QtCriticalMsg);
        EXPECT_EQ(LogCapture::lines()[0].second, "Archive probe for rar failed: Out of memory");
        EXPECT_EQ(LogCapture::lines()[1].second,
                  "Archive formats: bz2, gz, tar, tar.bz2, tar.gz, tar.xz, xz, zip");
    }
}


TEST(Capabilities, LibreOfficeFromTheEnvironmentFirst)
{
    QTemporaryDir dir;
    const QString program = dir.filePath("my-soffice");
    QFile file(program);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    Capabilities::Lookups lookups = Capabilities::Lookups::basic();
    QString chosen = program;
    lookups.environmentVariable = [&](const char* name) {
        return QByteArray(name) == "QUORVENDA_SOFFICE" ? chosen : QString();
    };
    lookups.readableImageFormatIds = [] { return QSet<QString>{}; };
    lookups.writableImageFormatIds = [] { return QSet<QString>{}; };
    EXPECT_EQ(Capabilities(lookups).libreOfficeURL(), QUrl::fromLocalFile(program));
    // A path that cannot run falls back to the usual places.
    chosen = dir.filePath("missing");
    lookups.isExecutableFile = [](const QString&) { return false; };
    lookups.findOnPath = [](const QString&) -> std::optional<QString> { return std::nullopt; };
    EXPECT_FALSE(Capabilities(lookups).libreOfficeURL());
}

TEST(Capabilities, PandocAndGhostscriptAreFoundAgainWithEachRefresh)
{
    FakeMachine machine;
    Capabilities caps(machine.lookups());
    EXPECT_FALSE(caps.pandocURL());
    EXPECT_FALSE(caps.ghostscriptURL());

    // Installed while running: found by the next refresh, not before.
    machine.onPath = {{"pandoc", "/usr/bin/pandoc"}, {"gs", "/usr/bin/gs"}};
    machine.executables = {"/usr/bin/pandoc"};
    EXPECT_FALSE(caps.pandocURL());
    caps.refreshExternalApps(true);
    EXPECT_EQ(caps.pandocURL(), QUrl::fromLocalFile("/usr/bin/pandoc"));
    EXPECT_FALSE(caps.ghostscriptURL()) << "a name on the PATH that is not executable";

    // A chosen program wins; a chosen one that is missing is not replaced by the PATH's.
    machine.executables += {"/usr/bin/gs", "/opt/gs/bin/gs"};
    machine.environment = {{"QUORVENDA_GS", "/opt/gs/bin/gs"}, {"QUORVENDA_PANDOC", "/nowhere/pandoc"}};
    caps.refreshExternalApps(true);
    EXPECT_EQ(caps.ghostscriptURL(), QUrl::fromLocalFile("/opt/gs/bin/gs"));
    EXPECT_FALSE(caps.pandocURL());

    // Uninstalled: gone after the next refresh.
    machine.environment.clear();
    machine.onPath.clear();
    caps.refreshExternalApps(true);
    EXPECT_FALSE(caps.pandocURL());
    EXPECT_FALSE(caps.ghostscriptURL());
}
