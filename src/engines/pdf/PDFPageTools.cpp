// Merge, split, reorder, rotate, protect and unlock: pages and objects are copied as they are,
// never drawn; only their JPEG pictures' coded data is parsed, so damage is not passed on.

#include "engines/pdf/PDFEngine.h"

#include "engines/pdf/PdfCheckedPictures.h"
#include "engines/pdf/PdfPagePictures.h"
#include "engines/pdf/PdfRepairs.h"
#include "engines/pdf/PdfSyncBatch.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QDir>
#include <QFile>
#include <QThread>

#include <atomic>
#include <cmath>
#include <exception>
#include <thread>

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include <sys/stat.h>

namespace qv {

namespace {

QString pdfExtension()
{
    return QStringLiteral("pdf");
}

QString pathOf(const QUrl& url)
{
    return url.toLocalFile();
}

// Every object the document reaches from its trailer read, as writing it whole would: a page
// copy takes only the objects its pages reach, so damage elsewhere (an object lost when the
// table was rebuilt, one that does not parse) would pass unseen where a turn of the same file
// is refused. So would a page whose drawing does not read (a string left open, a stream that
// does not inflate), which is copied as it is.
void readWhole(const PDFDocument& document)
{
    guardedRead([&] {
        QPDF& qpdf = document.qpdf();
        document.readPageContents();
        std::set<QPDFObjGen> seen;
        std::vector<QPDFObjectHandle> next{qpdf.getTrailer()};
        while (!next.empty()) {
            QPDFObjectHandle object = next.back();
            next.pop_back();
            if (object.isIndirect() && !seen.insert(object.getObjGen()).second)
                continue;
            if (object.isStream())
                object = object.getDict();
            if (object.isArray()) {
                for (int i = 0; i < object.getArrayNItems(); ++i)
                    next.push_back(object.getArrayItem(i));
            } else if (object.isDictionary()) {
                for (const std::string& key : object.getKeys())
                    next.push_back(object.getKey(key));
            }
        }
        if (!PdfRepairs::qpdfRepairedExactly(qpdf))
            throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                              QStringLiteral("objects the file reaches are damaged or missing"));
    });
}

// Every input opened and read through on a few threads at once, so that copying, which must
// go one page at a time, finds its objects parsed. The first input that fails, in order, gives
// the error.
std::vector<PDFDocument> openAll(const QList<FileInfo>& files,
                                 const std::function<PDFDocument(const QString&)>& open,
                                 std::stop_token stop)
{
    const qsizetype count = files.size();
    std::vector<std::optional<PDFDocument>> opened(static_cast<size_t>(count));
    std::vector<std::exception_ptr> errors(static_cast<size_t>(count));
    std::atomic<qsizetype> next{0};
    PdfCheckedPictures checked;
    const auto read = [&] {
        for (qsizetype k = next++; k < count && !stop.stop_requested(); k = next++) {
            try {
                PDFDocument document = open(pathOf(files[k].url));
                document.keepFileOpen(true);
                guardedRead([&] { document.qpdf().pushInheritedAttributesToPage(); });
                readWhole(document);
                // Pages are copied as they are: a damaged picture would pass on unseen.
                PdfPagePictures::checkJpegs(document, std::nullopt, stop, &checked);
                document.keepFileOpen(false);
                opened[size_t(k)] = std::move(document);
            } catch (...) {
                errors[size_t(k)] = std::current_exception();
            }
        }
    };
    {
        const int helpers = std::clamp(QThread::idealThreadCount(), 1, 4) - 1;
        std::vector<std::jthread> threads;
        for (int i = 0; i < std::min<qsizetype>(helpers, count - 1); ++i)
            threads.emplace_back(read);
        read();
    }
    throwIfCancelled(stop);
    std::vector<PDFDocument> documents;
    for (qsizetype k = 0; k < count; ++k) {
        if (errors[size_t(k)])
            std::rethrow_exception(errors[size_t(k)]);
        documents.push_back(*opened[size_t(k)]);
    }
    return documents;
}

// Below this many parts a second reading of the file costs more than it saves; above this
// size each reading holds too much memory to hold several.
constexpr qsizetype helpedSplitParts = 16;
constexpr qint64 helpedSplitBytes = qint64(256) << 20;

// What tells one state of a file from another: a file changed in place changes its times.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size
            && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
            && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

std::optional<FileStamp> stampOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return FileStamp{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

} // namespace

QUrl PDFEngine::merge(const QList<FileInfo>& files, const std::optional<QString>& password,
                      const PDFWork& work)
{
    auto merged = std::make_shared<QPDF>();
    merged->emptyPDF();
    merged->setSuppressWarnings(true);
    QPDFPageDocumentHelper out(*merged);
    // Each source stays open until the end: the writer reads copied streams from it.
    // Beyond a hundred inputs each file is open only while it is read, so that a big merge
    // never runs out of file descriptors.
    const bool keepOpen = files.size() <= 100;
    const std::vector<PDFDocument> sources = openAll(
        files, [&](const QString& path) { return openFile(path, password, keepOpen, true, true); }, work.stop);
    for (qsizetype k = 0; k < files.size(); ++k) guardedRead([&] {
        throwIfCancelled(work.stop);
        const PDFDocument& document = sources[size_t(k)];
        QPDF& source = document.qpdf();
        document.keepFileOpen(true);
        std::map<QPDFObjGen, QPDFObjectHandle> copied;
        for (const QPDFPageObjectHelper& page : QPDFPageDocumentHelper(source).getAllPages()) {
            const QPDFObjGen id = page.getObjectHandle().getObjGen();
            if (const auto it = copied.find(id); it != copied.end()) {
                out.addPage(QPDFPageObjectHelper(it->second).shallowCopyPage(), false);
                continue;
            }
            QPDFObjectHandle copy = merged->copyForeignObject(page.getObjectHandle());
            out.addPage(QPDFPageObjectHelper(copy), false);
            copied.emplace(id, copy);
        }
        document.keepFileOpen(false);
        work.report(double(k + 1) / double(files.size()) * 0.9);
    });
    const QUrl result = work.workFile(pdfExtension());
    // Every page was read whole in its source and is copied unchanged.
    PDFDocument whole(merged, QString(), std::nullopt);
    whole.markPagesRead();
    whole.write(pathOf(result));
    throwIfCancelled(work.stop);
    return work.place(result, work.nameFor(QStringLiteral("merge")), pdfExtension());
}

QUrl PDFEngine::split(const QString& path, const std::optional<SplitMode>& mode,
                      const std::optional<QString>& password, const PDFWork& work)
{
    const std::optional<FileStamp> stamp = stampOf(path);
    const PDFDocument document = openFile(path, password, true, true);
    QList<QList<int>> groups = splitGroups(mode.value_or(SplitMode::everyPage()), document.pageCount());
    groups.removeIf([](const QList<int>& group) { return group.isEmpty(); });
    if (groups.isEmpty())
        throw EngineError(QStringLiteral("Those pages aren't in this PDF"));
    QList<int> copied;
    for (const QList<int>& group : groups)
        copied.append(group);
    readWhole(document);

    const auto numbers = [](const QList<int>& group) {
        QList<int> result;
        for (int index : group)
            result.append(index + 1);
        return result;
    };

    if (groups.size() == 1) {
        PdfPagePictures::checkJpegs(document, copied, work.stop);
        const QUrl file = work.workFile(pdfExtension());
        copyPages(document, groups.first()).write(pathOf(file));
        throwIfCancelled(work.stop);
        return work.place(file,
                          work.baseName + QStringLiteral(" (pages ") + pageLabel(numbers(groups.first())) + QLatin1Char(')'),
                          pdfExtension());
    }

    const QUrl folder = work.workFolder(QStringLiteral("parts"));
    const QDir into(pathOf(folder));
    QStringList names;
    for (const QList<int>& group : groups) {
        names.append(group.size() == 1
                         ? work.baseName + QStringLiteral(" (page ") + QString::number(group.first() + 1) + QLatin1Char(')')
                         : work.baseName + QStringLiteral(" (pages ") + pageLabel(numbers(group)) + QLatin1Char(')'));
    }

    // Parts go to the disk on a few threads at once, each copying from a reading of the file of
    // its own (qpdf's documents are for one thread at a time). A helper whose reading differs
    // from the one checked, or that cannot read the file, leaves its parts to the others.
    std::atomic<qsizetype> next{0};
    std::atomic<qsizetype> done{0};
    std::atomic<bool> failed{false};
    std::mutex lock;
    std::map<qsizetype, std::exception_ptr> errors;
    const auto writeParts = [&](const PDFDocument& source, bool reports) {
        PdfSyncBatch written;
        qsizetype i = -1;
        try {
            for (i = next++; i < groups.size() && !failed && !work.stop.stop_requested(); i = next++) {
                copyPages(source, groups[i]).write(into.filePath(names[i] + QStringLiteral(".pdf")), std::nullopt,
                                                   &written);
                const qsizetype finished = ++done;
                if (reports)
                    work.report(double(finished) / double(groups.size()));
            }
            i = groups.size();
            written.sync();
        } catch (...) {
            failed = true;
            std::lock_guard held(lock);
            errors.emplace(i, std::current_exception());
        }
    };
    const bool helped = groups.size() >= helpedSplitParts && stamp && stamp->size <= helpedSplitBytes;
    const int helpers = helped ? std::clamp(QThread::idealThreadCount(), 1, 4) - 1 : 0;
    const auto writeAll = [&] {
        std::vector<std::jthread> threads;
        for (int k = 0; k < helpers; ++k) {
            threads.emplace_back([&] {
                if (next >= groups.size())
                    return;
                std::optional<PDFDocument> own;
                try {
                    own = readAgain(document);
                } catch (...) {
                    return;
                }
                // Only the very bytes checked are copied.
                if (!stamp || stampOf(path) != stamp || own->pageCount() != document.pageCount())
                    return;
                writeParts(*own, false);
            });
        }
        writeParts(document, true);
        threads.clear();
        if (!errors.empty())
            std::rethrow_exception(errors.begin()->second);
    };
    // The parts are written while the pictures they copy are parsed; they go when one is damaged.
    try {
        PdfPagePictures::checkJpegs(document, copied, work.stop, nullptr, writeAll);
    } catch (...) {
        for (const QString& name : names)
            QFile::remove(into.filePath(name + QStringLiteral(".pdf")));
        into.rmdir(into.path());
        throw;
    }
    throwIfCancelled(work.stop);
    work.report(1.0);
    return work.place(folder, work.nameFor(QStringLiteral("split")), QString());
}

QUrl PDFEngine::reorder(const QString& path, const std::optional<QString>& password,
                        const QList<int>& pageOrder, bool extract, const PDFWork& work)
{
    const PDFDocument document = openFile(path, password, true, true);
    const int count = document.pageCount();
    QList<int> chosen;
    for (int index : pageOrder)
        if (index >= 0 && index < count)
            chosen.append(index);
    if (chosen.isEmpty())
        throw EngineError(QStringLiteral("No pages were chosen"));
    readWhole(document);
    PdfPagePictures::checkJpegs(document, chosen, work.stop);

    const QUrl file = work.workFile(pdfExtension());
    copyPages(document, chosen).write(pathOf(file));
    throwIfCancelled(work.stop);
    work.report(1.0);
    QString name;
    if (!extract) {
        name = work.nameFor(QStringLiteral("reorder"));
    } else {
        QList<int> numbers;
        for (int index : chosen)
            numbers.append(index + 1);
        name = work.baseName + QStringLiteral(" (page ") + pageLabel(numbers) + QLatin1Char(')');
    }
    return work.place(file, name, pdfExtension());
}

QUrl PDFEngine::rotate(const QString& path, const std::optional<QString>& password, int degrees,
                       const PDFWork& work)
{
    const PDFDocument document = openFile(path, password, true, true, true);
    // A PDF page turns by quarter turns only; anything between goes to the nearest.
    const int quarterTurns = int(std::lround(degrees / 90.0));
    const QUrl file = work.workFile(pdfExtension());
    bool written = false;
    const auto turn = [&] {
        guardedRead([&] {
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(document.qpdf()).getAllPages()) {
                QPDFObjectHandle current = page.getAttribute("/Rotate", false);
                const long long before = current.isInteger() ? current.getIntValue() : 0;
                long long after = (before + 90LL * quarterTurns) % 360;
                if (after < 0)
                    after += 360;
                page.getObjectHandle().replaceKey("/Rotate", QPDFObjectHandle::newInteger(after));
            }
        });
        document.write(pathOf(file));
        written = true;
    };
    // The turned document is written while its pictures are parsed; it goes when one is damaged.
    try {
        PdfPagePictures::checkJpegs(document, std::nullopt, work.stop, nullptr, turn);
    } catch (...) {
        if (written)
            QFile::remove(pathOf(file));
        throw;
    }
    throwIfCancelled(work.stop);
    work.report(1.0);
    return work.place(file, work.nameFor(QStringLiteral("rotate")), pdfExtension());
}

QUrl PDFEngine::protect(const QString& path, const QString& password, const PDFWork& work)
{
    if (password.isEmpty())
        throw EngineError(QStringLiteral("Enter a password"));
    // An already protected PDF is not protected again.
    const PDFDocument document = openFile(path, std::nullopt, true, true);
    PdfPagePictures::checkJpegs(document, std::nullopt, work.stop);
    const QUrl file = work.workFile(pdfExtension());
    document.write(pathOf(file), password);
    throwIfCancelled(work.stop);
    work.report(1.0);
    return work.place(file, work.nameFor(QStringLiteral("protect")), pdfExtension());
}

QUrl PDFEngine::unlock(const QString& path, const QString& password, const PDFWork& work)
{
    // No password given: a file that needs one asks for it ("PDF is password-protected"); one
    // locked only against changes opens without.
    const PDFDocument document =
        openFile(path, password.isEmpty() ? std::nullopt : std::optional<QString>(password), true, true);
    PdfPagePictures::checkJpegs(document, std::nullopt, work.stop);
    const QUrl file = work.workFile(pdfExtension());
    document.write(pathOf(file));
    throwIfCancelled(work.stop);
    work.report(1.0);
    return work.place(file, work.nameFor(QStringLiteral("unlock")), pdfExtension());
}

} // namespace qv
