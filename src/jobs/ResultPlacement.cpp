#include "jobs/ResultPlacement.h"

#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/files/FileFormat.h"
#include "model/files/FileInfo.h"
#include "model/operations/JobNotes.h"
#include "platform/files/BeneathOpen.h"
#include "platform/files/FileItems.h"
#include "platform/files/PlainTree.h"
#include "platform/files/TemporaryRoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qv {

namespace {

// What the application's tools write; a result called anything else is not one of theirs.
const QStringList writtenExtensions{
    QStringLiteral("pdf"),  QStringLiteral("png"),  QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("webp"),
    QStringLiteral("gif"),  QStringLiteral("tif"),  QStringLiteral("tiff"), QStringLiteral("bmp"),  QStringLiteral("heic"),
    QStringLiteral("heif"), QStringLiteral("avif"), QStringLiteral("jxl"),  QStringLiteral("ico"),  QStringLiteral("icns"),
    QStringLiteral("svg"),  QStringLiteral("txt"),  QStringLiteral("md"),   QStringLiteral("html"), QStringLiteral("htm"),
    QStringLiteral("rtf"),  QStringLiteral("odt"),  QStringLiteral("ods"),  QStringLiteral("odp"),  QStringLiteral("docx"),
    QStringLiteral("xlsx"), QStringLiteral("pptx"), QStringLiteral("doc"),  QStringLiteral("xls"),  QStringLiteral("ppt"),
    QStringLiteral("epub"), QStringLiteral("csv"),  QStringLiteral("tsv"),  QStringLiteral("json"), QStringLiteral("srt"),
    QStringLiteral("vtt"),  QStringLiteral("ass"),  QStringLiteral("ssa"),  QStringLiteral("zip"),  QStringLiteral("tar"),
    QStringLiteral("gz"),   QStringLiteral("tgz"),  QStringLiteral("bz2"),  QStringLiteral("xz"),   QStringLiteral("7z"),
    QStringLiteral("zst"),  QStringLiteral("mp4"),  QStringLiteral("m4v"),  QStringLiteral("mov"),  QStringLiteral("mkv"),
    QStringLiteral("webm"), QStringLiteral("avi"),  QStringLiteral("mp3"),  QStringLiteral("m4a"),  QStringLiteral("m4r"),
    QStringLiteral("aac"),  QStringLiteral("wav"),  QStringLiteral("flac"), QStringLiteral("ogg"),  QStringLiteral("oga"),
    QStringLiteral("opus"), QStringLiteral("aiff"), QStringLiteral("aif"),  QStringLiteral("caf"),  QStringLiteral("mka"),
    QStringLiteral("tar.gz"), QStringLiteral("tar.bz2"), QStringLiteral("tar.xz"),
};

bool isHiddenCharacter(QChar c)
{
    const QChar::Category category = c.category();
    return category == QChar::Other_Control || category == QChar::Other_Format || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph || c == QChar(0xFFFD);
}

// A line feed or a tab in an input's name becomes a space; other control, format and
// direction characters go.
QString cleaned(QString text)
{
    for (QChar& c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    }
    text.removeIf(isHiddenCharacter);
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    return text;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(Descriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

[[noreturn]] void refuse(const QString& details)
{
    throw EngineError(OutputPlanner::untrustedResultMessage(), details);
}

} // namespace

ResultPlacement::ResultPlacement(const WorkerProtocol::RunRequest& request)
    : m_notes(std::make_shared<JobNotes>())
    , m_resultLimit(std::max(1, request.resultLimit))
    , m_suffix(request.resultSuffix)
    , m_extensions(request.resultExtensions)
    , m_namesFromContents(request.namesFromContents)
{
    const QUrl source = request.files.isEmpty() ? appTemporaryRoot() : request.files.first().url;
    if (!request.files.isEmpty()) {
        const FileInfo& first = request.files.first();
        m_inputName = first.name.isEmpty() ? QFileInfo(QDir::cleanPath(first.url.toLocalFile())).fileName() : first.name;
    }
    m_extensions += inputExtensions(request.files);
    m_planner.emplace(source, request.settings, m_notes);
    // The planner's work folder lies where a rename reaches the destination: in the temporary
    // root, the worker's own folder does as well.
    const QString work = QDir::cleanPath(m_planner->workDirectory().toLocalFile());
    if (!TemporaryRoot::contains(work))
        m_shared = work;
}

ResultPlacement::~ResultPlacement()
{
    removeItemFolder();
}

QString ResultPlacement::sharedFolder() const
{
    return m_shared;
}

QString ResultPlacement::destinationFolder() const
{
    return m_planner->destinationFolder().toLocalFile();
}

QString ResultPlacement::prepare(const QString& workerFolder)
{
    removeItemFolder();
    const QString base = m_shared.isEmpty() ? QDir::cleanPath(workerFolder) : m_shared;
    m_itemFolder = base + QStringLiteral("/item-%1-").arg(++m_attempts) + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray encoded = QFile::encodeName(m_itemFolder);
    if (::mkdir(encoded.constData(), 0700) != 0) {
        const int error = errno;
        m_itemFolder.clear();
        throw SystemError::fromErrno(error, QStringLiteral("Cannot create a work folder in ") + base);
    }
    // Held from the start: whatever becomes of its path, results are looked for in this folder.
    m_itemFd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_itemFd < 0) {
        const int error = errno;
        removeItemFolder();
        throw SystemError::fromErrno(error, QStringLiteral("Cannot open the work folder in ") + base);
    }
    return m_itemFolder;
}

void ResultPlacement::removeItemFolder()
{
    if (m_itemFd >= 0)
        ::close(m_itemFd);
    m_itemFd = -1;
    if (!m_itemFolder.isEmpty())
        FileItems::remove(m_itemFolder);
    m_itemFolder.clear();
}

QString ResultPlacement::baseNameFor(const QString& inputName, const QString& proposed, const QString& suffix)
{
    const auto visible = [](QString name) {
        name = cleaned(name);
        while (name.startsWith(QLatin1Char('.')))
            name.remove(0, 1);
        return name.trimmed().isEmpty() ? QString() : name;
    };
    // The input's base name, or its whole name (a folder's, or an archive of one file:
    // "photo.jpg.zip").
    const QString own = visible(splitFileName(inputName).baseName).isEmpty() ? QStringLiteral("result")
                                                                             : visible(splitFileName(inputName).baseName);
    const QString whole = visible(inputName);
    QString offered = cleaned(proposed);
    while (offered.startsWith(QLatin1Char('.')))
        offered.remove(0, 1);
    // " (compressed)", " (pages 2-5)": words of the operation, which the worker may know best.
    static const QRegularExpression words(QStringLiteral("^ \\(([^()/]{1,80})\\)$"));
    for (const QString& start : {whole, own}) {
        if (start.isEmpty() || !offered.startsWith(start))
            continue;
        const QString added = offered.mid(start.size());
        if (added.isEmpty() || words.match(added).hasMatch())
            return start + added;
    }
    // The one name the tools give a result of many inputs.
    if (offered == QLatin1String("Archive"))
        return offered;
    const QString operation = cleaned(suffix).trimmed();
    return operation.isEmpty() ? own : own + QStringLiteral(" (") + operation + QLatin1Char(')');
}

QString ResultPlacement::contentNameFor(const QString& proposed)
{
    QString name = cleaned(proposed).trimmed();
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    return name.isEmpty() ? QStringLiteral("result") : name;
}

QStringList ResultPlacement::inputExtensions(const QList<FileInfo>& files)
{
    QStringList extensions;
    for (const FileInfo& file : files) {
        extensions.append(file.ext);
        const std::optional<FileFormat> format = file.format ? file.format : formatForExtension(file.ext);
        if (format && !format->extensions.isEmpty())
            extensions.append(format->extensions.first());
    }
    return extensions;
}

std::optional<QString> ResultPlacement::extensionFor(const QString& proposed, const QStringList& allowed)
{
    if (proposed.isEmpty())
        return QString();
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,10}(\\.[A-Za-z0-9]{1,10})?$"));
    if (!plain.match(proposed).hasMatch())
        return std::nullopt;
    const QString lower = proposed.toLower();
    if (writtenExtensions.contains(lower) || allowed.contains(proposed, Qt::CaseInsensitive))
        return lower;
    return std::nullopt;
}

QList<QUrl> ResultPlacement::place(const QList<QUrl>& outputs, const QList<WorkerProtocol::StagedResult>& staged,
                                   JobNotes& notes, const std::function<void()>& endWorker)
{
    if (m_itemFd < 0)
        refuse(QStringLiteral("It had no work folder"));
    if (staged.size() > m_resultLimit)
        refuse(QStringLiteral("It left %1 results where %2 were asked for").arg(staged.size()).arg(m_resultLimit));

    // Nothing of the worker may change what is looked at from here on.
    if (endWorker)
        endWorker();

    // Everything is looked at before anything is placed: a reply with one bad part places
    // nothing.
    struct Opened {
        Descriptor folder;
        Descriptor item;
        HeldResult held;
        QString baseName;
        QString extension;
    };
    std::vector<Opened> opened;
    opened.reserve(std::size_t(staged.size()));
    // The work folder is the application's own: a disk that keeps no owners shows it, and all
    // the worker made, as whoever mounted it.
    struct stat workFolder {};
    if (::fstat(m_itemFd, &workFolder) != 0)
        refuse(QStringLiteral("Its work folder could not be looked at"));
    QHash<QString, qsizetype> byPath;
    for (qsizetype i = 0; i < staged.size(); ++i) {
        const WorkerProtocol::StagedResult& result = staged[i];
        const QString folderName = QStringLiteral("result-%1").arg(i + 1);
        const QString prefix = m_itemFolder + QLatin1Char('/') + folderName + QLatin1Char('/');
        const QByteArray leaf = QFile::encodeName(result.path.mid(prefix.size()));
        // Its name there is the worker's business: the result takes one the application makes.
        if (!result.path.startsWith(prefix) || leaf.isEmpty() || leaf == "." || leaf == ".." || leaf.contains('/')
            || leaf.contains('\0'))
            refuse(QStringLiteral("It named a result outside its work folder: ") + result.path);
        Descriptor folder(BeneathOpen::open(m_itemFd, QFile::encodeName(folderName), O_RDONLY | O_DIRECTORY));
        struct stat seen {};
        if (folder.get() < 0 || ::fstatat(folder.get(), leaf.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0)
            refuse(QStringLiteral("It named a result it did not leave in its work folder, or one reached through a link: ")
                   + result.path);
        // An archive's one entry keeps its own name and kind: what the user's file holds.
        static const QRegularExpression plainExtension(QStringLiteral("^[A-Za-z0-9]{1,10}$"));
        const std::optional<QString> extension = m_namesFromContents && plainExtension.match(result.extension).hasMatch()
            ? std::optional<QString>(result.extension)
            : extensionFor(result.extension, m_extensions);
        if (!extension)
            refuse(QStringLiteral("It made a result of a kind this tool does not make: .") + cleaned(result.extension));
        const bool isFolder = S_ISDIR(seen.st_mode);
        if (!(S_ISREG(seen.st_mode) || (isFolder && extension->isEmpty())))
            refuse(QStringLiteral("Its result is not a plain file: ") + result.path);
        Descriptor item(BeneathOpen::open(folder.get(), leaf, O_RDONLY | O_NONBLOCK | O_NOCTTY | (isFolder ? O_DIRECTORY : 0)));
        struct stat status {};
        if (item.get() < 0 || ::fstat(item.get(), &status) != 0 || status.st_ino != seen.st_ino || status.st_dev != seen.st_dev)
            refuse(QStringLiteral("Its result changed while it was being looked at: ") + result.path);
        // A folder is made plain once it is out of the worker's reach (placeHeldResult).
        if (!isFolder) {
            if (const std::optional<QString> problem = PlainTree::makePlain(item.get(), workFolder.st_uid))
                refuse(*problem + QStringLiteral(": ") + result.path);
        }
        const QString baseName =
            m_namesFromContents ? contentNameFor(result.baseName) : baseNameFor(m_inputName, result.baseName, m_suffix);
        Opened entry{std::move(folder), std::move(item), {}, baseName, *extension};
        entry.held = {entry.folder.get(), leaf, entry.item.get(), isFolder, workFolder.st_uid, result.entries, true};
        opened.push_back(std::move(entry));
        byPath.insert(result.path, i);
    }
    QList<qsizetype> order;
    for (const QUrl& output : outputs) {
        const auto found = byPath.constFind(output.isLocalFile() ? output.toLocalFile() : QString());
        if (found == byPath.constEnd())
            refuse(QStringLiteral("It named something outside its work folder as a result: ")
                   + cleaned(output.toDisplayString()).left(300));
        order.append(*found);
    }

    QList<QUrl> placed;
    for (Opened& entry : opened)
        placed.append(m_planner->deliverHeld(entry.held, entry.baseName, entry.extension));
    QList<QUrl> final;
    for (const qsizetype index : order)
        final.append(placed[index]);
    for (const QString& message : m_notes->messages())
        notes.addMessage(message);
    removeItemFolder();
    return final;
}

} // namespace qv
