#include "documents/office/OfficeConverter.h"

#include "documents/office/OfficeEncryption.h"
#include "documents/readers/ZipPackageReader.h"
#include "documents/sheets/WorkbookIntegrity.h"
#include "engines/pdf/PDFEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/Capabilities.h"
#include "platform/files/FileItems.h"
#include "platform/files/PrivateFolder.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/processes/TimeLimit.h"
#include "platform/sandbox/WorkerSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv {

std::chrono::seconds OfficeConverter::timeLimit{300};

namespace {

const QString couldNotConvert = QStringLiteral("LibreOffice couldn't convert this file");
// LibreOffice says a document it could not hold in memory "could not be loaded", with status 0.
const QString tooLarge = QStringLiteral("This document is too large to convert");

QString appName(FileCategory category)
{
    switch (category) {
    case FileCategory::presentation: return QStringLiteral("Keynote");
    case FileCategory::spreadsheet: return QStringLiteral("Numbers");
    default: return QStringLiteral("Pages");
    }
}

// At most maximumRuns LibreOffice processes at once; a waiter leaves when its job is cancelled.
class RunGate {
public:
    void enter(std::stop_token stop)
    {
        std::unique_lock lock(m_mutex);
        if (!m_wake.wait(lock, stop, [this] { return m_running < OfficeConverter::maximumRuns; }))
            throw CancellationError();
        ++m_running;
    }
    void leave()
    {
        {
            std::lock_guard lock(m_mutex);
            --m_running;
        }
        m_wake.notify_one();
    }
    int running()
    {
        std::lock_guard lock(m_mutex);
        return m_running;
    }

private:
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    int m_running = 0;
};

RunGate& gate()
{
    static RunGate instance;
    return instance;
}

QHash<QString, QString> sofficeEnvironment()
{
    return {{QStringLiteral("HOME"), QDir::homePath()}, {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")}};
}

// What LibreOffice ends with when it wants to be started again (after its first start set
// its profile up); its launcher does so, and so do we where we start it without the launcher.
constexpr int restartStatus = 81;

// Runs LibreOffice with folder as its working folder. A worker without a view of its own is
// kept out of /tmp, where LibreOffice's launcher always makes its pipe: LibreOffice is then
// started without the launcher, told to make the pipe in its working folder, and told that no
// path may be written when it asks (it takes OSL_SOCKET_PATH only when /tmp and /var/tmp both
// say no); writing itself is not asked, only tried, and succeeds where the walls allow it.
ProcessRunner::Output runOffice(const QUrl& program, QStringList arguments, std::stop_token stop, const QString& folder)
{
    const QString binary = QFileInfo(QFileInfo(program.toLocalFile()).canonicalFilePath()).absolutePath()
        + QStringLiteral("/soffice.bin");
    const QByteArray filter = WorkerSandbox::keepsOutOfTmp() ? WorkerSandbox::writeChecksRefused() : QByteArray();
    if (filter.isEmpty() || !QFileInfo(binary).isExecutable())
        return ProcessRunner::run(program, arguments, stop, sofficeEnvironment());
    arguments.prepend(QStringLiteral("-env:OSL_SOCKET_PATH=."));
    const ChildProcess::ExtraFilter refused(filter);
    for (int start = 0;; ++start) {
        ProcessRunner::Output output =
            ProcessRunner::run(QUrl::fromLocalFile(binary), arguments, stop, sofficeEnvironment(), QUrl::fromLocalFile(folder));
        if (output.terminatedBySignal || output.status != restartStatus || start == 2)
            return output;
    }
}

QString profileURL(const QString& profile)
{
    return QUrl::fromLocalFile(profile).toString(QUrl::FullyEncoded);
}

// The folder for a template profile. A worker ends without running destructors (killed, or
// _Exit once the application is gone), so there the template goes into the worker's own
// temporary folder, which is removed with the worker; elsewhere into a private folder of the
// temporary root, removed when the process ends.
QUrl makeTemplateFolder()
{
    const QString own = QDir::tempPath();
    if (TemporaryRoot::contains(own)) {
        const QString path = QDir(own).filePath(QStringLiteral("office-profile-")
                                                + QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (QDir().mkdir(path))
            return QUrl::fromLocalFile(path);
    }
    return PrivateFolder::make(QStringLiteral("office-profile"));
}

// Profiles made by one headless start per program, copied into every run's private folder so
// that no run pays LibreOffice's first-start set-up.
class TemplateProfiles {
public:
    ~TemplateProfiles()
    {
        for (const QUrl& folder : std::as_const(m_folders))
            PrivateFolder::remove(folder);
    }

    // The template for this program, made on first use; none when it could not be made.
    std::optional<QString> profileFor(const QUrl& program, std::stop_token stop)
    {
        std::lock_guard lock(m_mutex);
        const QString key = program.toLocalFile();
        // A program that could not make one is not asked again.
        if (const auto it = m_profiles.constFind(key); it != m_profiles.constEnd())
            return *it;
        QUrl folder;
        try {
            folder = makeTemplateFolder();
        } catch (const SystemError&) {
            return std::nullopt;
        }
        const QString profile = QDir(folder.toLocalFile()).filePath(QStringLiteral("profile"));
        bool made = false;
        bool timedOut = false;
        try {
            const ProcessRunner::Output output = runWithTimeLimit(stop, OfficeConverter::timeLimit, timedOut, [&](std::stop_token limited) {
                return runOffice(
                    program,
                    {QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                     QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck"),
                     QStringLiteral("--terminate_after_init"),
                     QStringLiteral("-env:UserInstallation=") + profileURL(profile)},
                    limited, folder.toLocalFile());
            });
            made = output.status == 0 && !output.terminatedBySignal && QFileInfo(profile).isDir();
        } catch (const CancellationError&) {
            if (!timedOut || stop.stop_requested()) {
                PrivateFolder::remove(folder);
                throw;
            }
        } catch (const Error&) {
        }
        if (!made) {
            // Each run then sets its own profile up.
            PrivateFolder::remove(folder);
            m_profiles.insert(key, std::nullopt);
            return std::nullopt;
        }
        m_folders.append(folder);
        m_profiles.insert(key, profile);
        return profile;
    }

private:
    std::mutex m_mutex;
    QHash<QString, std::optional<QString>> m_profiles;
    QList<QUrl> m_folders;
};

TemplateProfiles& templates()
{
    static TemplateProfiles instance;
    return instance;
}

// Removes the private folder however the run ends.
struct OwnedFolder {
    QUrl url;
    ~OwnedFolder() { PrivateFolder::remove(url); }
};

void moveInto(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return;
    const int error = errno;
    if (error != EXDEV)
        throw SystemError::fromErrno(error, QStringLiteral("Cannot move the converted file"));
    if (const int copyError = FileItems::copy(from, to)) {
        FileItems::remove(to);
        throw SystemError::fromErrno(copyError, QStringLiteral("Cannot move the converted file"));
    }
}

// LibreOffice ends with status 0 whatever happened to the file it was writing, and says so only
// on its standard error. A store that failed on a disk left without room is taken for a full disk,
// as LibreOffice does not tell why.
void checkLibreOfficeRun(const ProcessRunner::Output& result, const QString& outFolder)
{
    const QString log = (result.stderrText() + result.stdoutText()).trimmed();
    const QString text = log.toLower();
    static const QRegularExpression errorLine(QStringLiteral("^Error\\b"), QRegularExpression::MultilineOption);
    const bool failed = errorLine.match(log).hasMatch();
    constexpr qint64 fullDiskBytes = 1 << 20;
    if (text.contains(QLatin1String("no space left on device")) || text.contains(QLatin1String("disk quota exceeded"))
        || (failed && text.contains(QLatin1String("error area:io"))
            && QStorageInfo(outFolder).bytesAvailable() < fullDiskBytes))
        throw SystemError::fromErrno(ENOSPC, log);
    if (result.status != 0 || result.terminatedBySignal || failed)
        throw EngineError(result.reachedMemoryLimit ? tooLarge : couldNotConvert, log);
}

// Whether a zip ends with its central directory, where every reader looks first, right before
// the record that points at it.
bool zipEndsWhole(QFile& file)
{
    const qint64 size = file.size();
    const qint64 tailSize = std::min<qint64>(size, 65535 + 22);
    if (tailSize < 22 || !file.seek(size - tailSize))
        return false;
    const QByteArray tail = file.read(tailSize);
    const qsizetype end = tail.lastIndexOf(QByteArrayLiteral("PK\x05\x06"));
    if (end < 0 || tail.size() - end < 22)
        return false;
    const auto number = [&](qsizetype at) {
        return quint32(quint8(tail[at])) | quint32(quint8(tail[at + 1])) << 8 | quint32(quint8(tail[at + 2])) << 16
            | quint32(quint8(tail[at + 3])) << 24;
    };
    const quint32 directorySize = number(end + 12);
    const quint32 directoryOffset = number(end + 16);
    // Large packages keep the true numbers in their 64-bit records.
    if (directoryOffset == 0xFFFFFFFFu || directorySize == 0xFFFFFFFFu)
        return true;
    return qint64(directoryOffset) + directorySize == size - tailSize + end;
}

// LibreOffice repairs an office package whose parts do not inflate or match their checksums
// without a word, and converts what it could read: every part is inflated once first. A file of
// such a name that is no zip (a Word 97 file renamed, an encrypted package) is LibreOffice's to
// judge.
void refuseDamagedPackage(const QString& path, std::stop_token stop)
{
    static const QStringList packages{"docx", "docm", "dotx", "xlsx", "xlsm", "xltx", "xlsb", "pptx", "pptm", "ppsx",
                                      "potx", "odt", "ott", "ods", "ots", "odp", "otp", "odg"};
    static const QStringList workbooks{"xlsx", "xlsm", "xltx", "xlsb", "ods", "ots"};
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (!packages.contains(suffix))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(4) != QByteArrayLiteral("PK\x03\x04"))
        return;
    file.close();
    const QString damaged = QStringLiteral("damaged");
    ZipPackageReader package(path, {damaged, QStringLiteral("too large")}, stop);
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    try {
        package.forEachEntry([&](const QString&, ZipPackageReader::Entry& entry) {
            while (entry.read(buffer.data(), buffer.size()) > 0) {
            }
        });
    } catch (const EngineError& e) {
        if (e.message() == damaged)
            throw EngineError(workbooks.contains(suffix) ? WorkbookIntegrity::damagedMessage
                                                         : QStringLiteral("This file is damaged or not in a supported format"),
                              e.log());
        // Past the reader's caps LibreOffice's own limits apply.
    }
}

// Reads the converted file back as far as its format allows: a PDF opens with pages, a package
// ends with its directory and inflates whole, RTF and HTML files begin and end as they must, a
// Word 97 file begins as one.
void checkConverted(const QString& path, const QString& target, std::stop_token stop)
{
    const auto damaged = [&](const QString& why) {
        return EngineError(couldNotConvert, QStringLiteral("LibreOffice's %1 is damaged: %2").arg(target.toUpper(), why));
    };
    const QFileInfo info(path);
    if (!info.isFile())
        throw damaged(QStringLiteral("it is not a file"));
    static const QStringList mayBeEmpty{QStringLiteral("txt"), QStringLiteral("csv")};
    if (info.size() == 0 && !mayBeEmpty.contains(target))
        throw damaged(QStringLiteral("it is empty"));
    static const QStringList packages{"docx", "odt", "xlsx", "ods", "pptx", "odp", "epub"};
    if (target == QLatin1String("pdf")) {
        int pages = 0;
        try {
            pages = PDFEngine::open(path).pageCount();
        } catch (const EngineError& e) {
            throw damaged(e.message());
        }
        if (pages < 1)
            throw damaged(QStringLiteral("it has no pages"));
    } else if (packages.contains(target)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw SystemError::fromErrno(errno, QStringLiteral("Cannot read the converted file"));
        if (!zipEndsWhole(file))
            throw damaged(QStringLiteral("its central directory is missing"));
        const QString broken = QStringLiteral("broken");
        ZipPackageReader package(path, {broken, broken}, stop);
        int entries = 0;
        char buffer[65536];
        try {
            package.forEachEntry([&](const QString&, ZipPackageReader::Entry& entry) {
                ++entries;
                while (entry.read(buffer, sizeof buffer) > 0) {
                }
            });
        } catch (const EngineError& e) {
            throw damaged(e.message());
        }
        if (entries == 0)
            throw damaged(QStringLiteral("the package is empty"));
    } else if (target == QLatin1String("rtf") || target == QLatin1String("doc") || target == QLatin1String("html")) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw SystemError::fromErrno(errno, QStringLiteral("Cannot read the converted file"));
        const QByteArray head = file.read(8);
        file.seek(std::max<qint64>(0, file.size() - 64));
        const QByteArray tail = file.read(64).trimmed();
        bool whole = true;
        if (target == QLatin1String("rtf"))
            whole = head.startsWith("{\\rtf") && tail.endsWith('}');
        else if (target == QLatin1String("doc"))
            whole = head == QByteArray::fromHex("d0cf11e0a1b11ae1");
        else
            whole = tail.toLower().endsWith("</html>");
        if (!whole)
            throw damaged(QStringLiteral("it is cut short"));
    }
}

} // namespace

const QHash<QString, QString>& OfficeConverter::libreOfficeFilters()
{
    static const QHash<QString, QString> filters{
        {QStringLiteral("pdf"), QStringLiteral("pdf")},
        {QStringLiteral("docx"), QStringLiteral("docx")},
        {QStringLiteral("odt"), QStringLiteral("odt")},
        {QStringLiteral("rtf"), QStringLiteral("rtf")},
        {QStringLiteral("txt"), QStringLiteral("txt:Text (encoded):UTF8")},
        {QStringLiteral("epub"), QStringLiteral("epub")},
        {QStringLiteral("xlsx"), QStringLiteral("xlsx")},
        {QStringLiteral("ods"), QStringLiteral("ods")},
        {QStringLiteral("csv"), QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1")},
        {QStringLiteral("pptx"), QStringLiteral("pptx")},
        {QStringLiteral("odp"), QStringLiteral("odp")},
        {QStringLiteral("html"), QStringLiteral("html")},
        // Word 97 files, written from an ODT of our own.
        {QStringLiteral("doc"), QStringLiteral("doc:MS Word 97")},
    };
    return filters;
}

bool OfficeConverter::libreOfficeCanWrite(const QString& target, const std::optional<QString>& sourceExtension)
{
    if (!libreOfficeFilters().contains(target))
        return false;
    return !sourceExtension || *sourceExtension != target;
}

bool OfficeConverter::canConvertOfficeDocument(const QString& target, FileCategory,
                                               const std::optional<QString>& sourceExtension)
{
    if (!Capabilities::shared().libreOfficeURL())
        return false;
    return libreOfficeCanWrite(target, sourceExtension);
}

void OfficeConverter::convertOfficeDocument(const QUrl& input, const QUrl& output, const QString& target,
                                            FileCategory category, std::stop_token stop)
{
    const QString sourceExtension = QFileInfo(input.toLocalFile()).suffix().toLower();
    if (Capabilities::shared().libreOfficeURL() && libreOfficeCanWrite(target, sourceExtension)) {
        convertWithLibreOffice(input, output, target, stop);
        return;
    }
    throw EngineError(QStringLiteral("Install %1 or LibreOffice to convert to %2").arg(appName(category), target.toUpper()));
}

int OfficeConverter::runningCount()
{
    return gate().running();
}

void OfficeConverter::convertWithLibreOffice(const QUrl& input, const QUrl& output, const QString& target,
                                             std::stop_token stop, const QString& inputFilter)
{
    const std::optional<QUrl> program = Capabilities::shared().libreOfficeURL();
    if (!program)
        throw EngineError(QStringLiteral("LibreOffice is not installed"));
    const auto filter = libreOfficeFilters().constFind(target);
    if (filter == libreOfficeFilters().constEnd())
        throw EngineError(QStringLiteral("LibreOffice can't write %1").arg(target.toUpper()));

    throwIfCancelled(stop);
    // A damaged container first: LibreOffice reads a cut workbook as text and converts its bytes.
    refuseDamagedPackage(input.toLocalFile(), stop);
    if (const std::optional<QString> damage = WorkbookIntegrity::damage(input.toLocalFile()))
        throw EngineError(WorkbookIntegrity::damagedMessage, *damage);
    // LibreOffice, asked for no password, says only that it could not load the file.
    if (OfficeEncryption::isEncryptedPackage(input.toLocalFile()))
        throw EngineError(OfficeEncryption::passwordProtectedMessage);
    const std::optional<QString> templateProfile = templates().profileFor(*program, stop);

    gate().enter(stop);
    struct Leave {
        ~Leave() { gate().leave(); }
    } leave;

    const OwnedFolder folder{PrivateFolder::make(QStringLiteral("soffice"))};
    const QDir root(folder.url.toLocalFile());
    const QString profile = root.filePath(QStringLiteral("profile"));
    const QString outFolder = root.filePath(QStringLiteral("out"));
    if (const int error = FileItems::makePath(outFolder))
        throw SystemError::fromErrno(error, QStringLiteral("Cannot create a folder for LibreOffice"));
    // A failed copy only costs the first-start set-up.
    if (templateProfile && FileItems::copy(*templateProfile, profile) != 0)
        FileItems::remove(profile);

    QStringList arguments{
        QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
        QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck"),
        QStringLiteral("-env:UserInstallation=") + profileURL(profile)};
    if (!inputFilter.isEmpty())
        arguments << QStringLiteral("--infilter=") + inputFilter;
    arguments << QStringLiteral("--convert-to") << *filter << QStringLiteral("--outdir") << outFolder << input.toLocalFile();

    bool timedOut = false;
    ProcessRunner::Output result;
    try {
        result = runWithTimeLimit(stop, timeLimit, timedOut, [&](std::stop_token limited) {
            return runOffice(*program, arguments, limited, root.path());
        });
    } catch (const CancellationError&) {
        if (!timedOut || stop.stop_requested())
            throw;
        throw EngineError(couldNotConvert, QStringLiteral("LibreOffice timed out after %1 seconds").arg(timeLimit.count()));
    }
    throwIfCancelled(stop);
    checkLibreOfficeRun(result, outFolder);

    const QStringList produced = QDir(outFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    if (produced.isEmpty())
        throw EngineError(result.reachedMemoryLimit ? tooLarge : couldNotConvert, result.stderrText() + result.stdoutText());
    const QString converted = QDir(outFolder).filePath(produced.first());
    checkConverted(converted, target, stop);
    moveInto(converted, output.toLocalFile());
}

} // namespace qv
