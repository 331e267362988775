#include "model/operations/Capabilities.h"

#include "model/Clock.h"
#include "model/files/FileFormat.h"
#include "model/Log.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <mutex>
#include <QStandardPaths>

#include <algorithm>

namespace qv {

namespace {

constexpr qint64 kRefreshIntervalMs = 30 * 1000;

// Our own writers, not libvips, make these.
const QStringList kOwnWriterFormatIds{QStringLiteral("ico"), QStringLiteral("icns")};

struct ProbeRow {
    const char* format;
    const char* resource;
};
constexpr ProbeRow kProbeRows[] = {{"7z", "probe.7z"}, {"rar", "probe.rar"}};

QSet<QString> typeIdentifiers(const QSet<QString>& formatIds)
{
    QSet<QString> types;
    for (const FileFormat& format : formatCatalogue()) {
        if (formatIds.contains(format.id))
            types.insert(format.uti);
    }
    return types;
}

QSet<QString> imageTypes(const std::function<QSet<QString>()>& lookup, const QStringList& extra = {})
{
    QSet<QString> ids = lookup ? lookup() : QSet<QString>{};
    for (const QString& id : extra)
        ids.insert(id);
    return typeIdentifiers(ids);
}

QStringList sorted(const QSet<QString>& set)
{
    QStringList list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

Capabilities::Lookups Capabilities::Lookups::basic()
{
    Lookups lookups;
    lookups.environmentVariable = [](const char* name) { return qEnvironmentVariable(name); };
    lookups.isExecutableFile = [](const QString& path) {
        const QFileInfo info(path);
        return info.isFile() && info.isExecutable();
    };
    lookups.findOnPath = [](const QString& program) -> std::optional<QString> {
        const QString found = QStandardPaths::findExecutable(program);
        if (found.isEmpty())
            return std::nullopt;
        return found;
    };
    lookups.listFolder = [](const QString& folder, const QString& pattern) {
        return QDir(folder).entryList({pattern}, QDir::Dirs | QDir::NoDotAndDotDot);
    };
    lookups.applicationDirPath = QCoreApplication::applicationDirPath();
    lookups.clock = &Clock::system();
    return lookups;
}

namespace {

std::mutex& lookupsLock()
{
    static std::mutex lock;
    return lock;
}

std::function<Capabilities::Lookups()>& installedLookups()
{
    static std::function<Capabilities::Lookups()> make;
    return make;
}

} // namespace

void Capabilities::installSystemLookups(std::function<Lookups()> makeLookups)
{
    std::lock_guard locker(lookupsLock());
    installedLookups() = std::move(makeLookups);
}

Capabilities& Capabilities::shared()
{
    // Never destroyed: readers on other threads may still be running when the process ends.
    static Capabilities* const instance = [] {
        std::function<Lookups()> make;
        {
            std::lock_guard locker(lookupsLock());
            make = installedLookups();
        }
        if (!make)
            qFatal("The capabilities were read before start-up installed their look-ups");
        return new Capabilities(make());
    }();
    return *instance;
}

Capabilities::Capabilities(Lookups lookups, QObject* parent)
    : QObject(parent)
    , m_lookups(std::move(lookups))
    , m_lastExternalCheck(QDate(1, 1, 1), QTime(0, 0), Qt::UTC)
    , m_ffmpegURL(findFFmpeg())
    , m_textRecognition(m_lookups.hasTextRecognitionData && m_lookups.hasTextRecognitionData())
    , m_imageLibrary(!m_lookups.hasImageLibrary || m_lookups.hasImageLibrary())
    , m_subjectLifting(m_lookups.canLiftSubjects && m_lookups.canLiftSubjects())
{
    refreshExternalApps(true);
}

const QSet<QString>& Capabilities::imageIOWritable() const
{
    std::call_once(m_writableOnce, [this] {
        m_imageIOWritable = imageTypes(m_lookups.writableImageFormatIds, kOwnWriterFormatIds);
    });
    return m_imageIOWritable;
}

const QSet<QString>& Capabilities::imageIOReadable() const
{
    std::call_once(m_readableOnce, [this] {
        m_imageIOReadable = imageTypes(m_lookups.readableImageFormatIds);
    });
    return m_imageIOReadable;
}

void Capabilities::warmUp()
{
    probeArchiveFormats();
    imageIOWritable();
    imageIOReadable();
}

const QStringList& Capabilities::baseArchiveFormats()
{
    static const QStringList formats{"zip", "tar", "tar.gz", "tar.bz2",
                                     "tar.xz", "gz", "bz2", "xz"};
    return formats;
}

std::optional<QUrl> Capabilities::findFFmpeg() const
{
    const auto executable = [this](const QString& path) -> std::optional<QUrl> {
        if (path.isEmpty() || !m_lookups.isExecutableFile(path))
            return std::nullopt;
        return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    };
    if (auto url = executable(m_lookups.environmentVariable("QUORVENDA_FFMPEG")))
        return url;
    if (!m_lookups.applicationDirPath.isEmpty()) {
        const QString bundled = QDir::cleanPath(m_lookups.applicationDirPath
                                                + QStringLiteral("/../libexec/quorvenda/ffmpeg"));
        if (auto url = executable(bundled))
            return url;
    }
    if (const auto onPath = m_lookups.findOnPath(QStringLiteral("ffmpeg")))
        return executable(*onPath);
    return std::nullopt;
}

std::optional<QUrl> Capabilities::findLibreOffice() const
{
    // An explicit choice wins, as for FFmpeg.
    const QString chosen = m_lookups.environmentVariable("QUORVENDA_SOFFICE");
    if (!chosen.isEmpty() && m_lookups.isExecutableFile(chosen))
        return QUrl::fromLocalFile(QFileInfo(chosen).absoluteFilePath());
    QStringList candidates{QStringLiteral("/usr/bin/soffice"),
                           QStringLiteral("/usr/lib/libreoffice/program/soffice")};
    // Installs from the LibreOffice site go to /opt/libreoffice<version>.
    QStringList optInstalls = m_lookups.listFolder(QStringLiteral("/opt"), QStringLiteral("libreoffice*"));
    // Version numbers in natural order, whatever the user's locale.
    QCollator collator{QLocale(QLocale::English)};
    collator.setNumericMode(true);
    std::sort(optInstalls.begin(), optInstalls.end(), collator);
    for (const QString& name : optInstalls)
        candidates.append(QStringLiteral("/opt/") + name + QStringLiteral("/program/soffice"));

    for (const QString& path : candidates) {
        if (m_lookups.isExecutableFile(path))
            return QUrl::fromLocalFile(path);
    }
    if (const auto onPath = m_lookups.findOnPath(QStringLiteral("soffice"))) {
        if (m_lookups.isExecutableFile(*onPath))
            return QUrl::fromLocalFile(*onPath);
    }
    return std::nullopt;
}

std::optional<QUrl> Capabilities::findProgram(const char* variable, const QString& name) const
{
    const QString chosen = m_lookups.environmentVariable(variable);
    if (!chosen.isEmpty())
        return m_lookups.isExecutableFile(chosen) ? std::optional<QUrl>(QUrl::fromLocalFile(QFileInfo(chosen).absoluteFilePath()))
                                                  : std::nullopt;
    if (const auto onPath = m_lookups.findOnPath(name)) {
        if (m_lookups.isExecutableFile(*onPath))
            return QUrl::fromLocalFile(*onPath);
    }
    return std::nullopt;
}

void Capabilities::refreshExternalApps(bool force)
{
    {
        std::lock_guard locker(m_lock);
        const QDateTime now = m_lookups.clock->now();
        const qint64 elapsed = m_lastExternalCheck.msecsTo(now);
        // A clock set back would otherwise hold every refresh off until it caught up.
        if (!force && elapsed >= 0 && elapsed <= kRefreshIntervalMs)
            return;
        m_lastExternalCheck = now;
    }

    // Keynote, Pages and Numbers do not exist here: the dictionary stays empty.
    QHash<IWorkApp, QUrl> iworkApps;
    const std::optional<QUrl> libreOffice = findLibreOffice();
    const std::optional<QUrl> pandoc = findProgram("QUORVENDA_PANDOC", QStringLiteral("pandoc"));
    const std::optional<QUrl> ghostscript = findProgram("QUORVENDA_GS", QStringLiteral("gs"));
    const std::optional<QUrl> kdeConnect = findProgram("QUORVENDA_KDECONNECT", QStringLiteral("kdeconnect-cli"));
    const std::optional<QUrl> unar = findProgram("QUORVENDA_UNAR", QStringLiteral("unar"));

    std::lock_guard locker(m_lock);
    m_iworkApps = iworkApps;
    m_libreOfficeURL = libreOffice;
    m_pandocURL = pandoc;
    m_ghostscriptURL = ghostscript;
    m_kdeConnectURL = kdeConnect;
    m_unarURL = unar;
}

std::optional<QUrl> Capabilities::kdeConnectURL() const
{
    std::lock_guard locker(m_lock);
    return m_kdeConnectURL;
}

std::optional<QUrl> Capabilities::unarURL() const
{
    std::lock_guard locker(m_lock);
    return m_unarURL;
}

std::optional<QUrl> Capabilities::pandocURL() const
{
    std::lock_guard locker(m_lock);
    return m_pandocURL;
}

std::optional<QUrl> Capabilities::ghostscriptURL() const
{
    std::lock_guard locker(m_lock);
    return m_ghostscriptURL;
}

std::optional<QUrl> Capabilities::libreOfficeURL() const
{
    std::lock_guard locker(m_lock);
    return m_libreOfficeURL;
}

std::optional<QUrl> Capabilities::iworkAppURL(IWorkApp app) const
{
    std::lock_guard locker(m_lock);
    const auto it = m_iworkApps.constFind(app);
    if (it == m_iworkApps.constEnd())
        return std::nullopt;
    return *it;
}

bool Capabilities::isAvailable(const EngineID& engine) const
{
    switch (engine.kind) {
    case EngineID::Kind::iwork:
        return engine.app && iworkAppURL(*engine.app).has_value();
    case EngineID::Kind::office:
        return (engine.app && iworkAppURL(*engine.app).has_value())
            || libreOfficeURL().has_value();
    case EngineID::Kind::ffmpeg:
        return hasFFmpeg();
    case EngineID::Kind::libreOffice:
        return libreOfficeURL().has_value();
    case EngineID::Kind::vision:
        return m_textRecognition;
    case EngineID::Kind::imageIO:
        return m_imageLibrary;
    case EngineID::Kind::deviceSharing:
        return kdeConnectURL().has_value();
    default:
        return true;
    }
}

QSet<QString> Capabilities::probeArchiveFormats()
{
    {
        std::lock_guard locker(m_lock);
        if (m_archiveFormats)
            return *m_archiveFormats;
    }

    QSet<QString> formats(baseArchiveFormats().begin(), baseArchiveFormats().end());
    for (const ProbeRow& row : kProbeRows) {
        if (!m_lookups.probeResource || !m_lookups.listArchive)
            break;
        const QString format = QString::fromLatin1(row.format);
        const std::optional<QByteArray> data = m_lookups.probeResource(QString::fromLatin1(row.resource));
        if (!data)
            continue;
        const ArchiveListing listing = m_lookups.listArchive(*data);
        switch (listing.outcome) {
        case ArchiveListing::Outcome::listed:
            formats.insert(format);
            break;
        case ArchiveListing::Outcome::unreadable:
            break;
        case ArchiveListing::Outcome::failed:
            qCCritical(enginesLog, "Archive probe for %s failed: %s", qUtf8Printable(format),
                       qUtf8Printable(listing.error));
            break;
        }
    }

    {
        std::lock_guard locker(m_lock);
        m_archiveFormats = formats;
    }
    qCInfo(enginesLog, "Archive formats: %s", qUtf8Printable(sorted(formats).join(QStringLiteral(", "))));
    return formats;
}

QSet<QString> Capabilities::archiveFormats()
{
    {
        std::lock_guard locker(m_lock);
        if (m_archiveFormats)
            return *m_archiveFormats;
    }
    return probeArchiveFormats();
}

} // namespace qv
