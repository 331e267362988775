#include "engines/pdf/PdfRepairs.h"

#include "engines/pdf/PdfDrawingSyntax.h"
#include "engines/pdf/PdfFileSource.h"
#include "engines/pdf/PdfPassword.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <set>
#include <vector>

namespace qv {

namespace {

enum class Kind { exact, rebuilt, damage };

// Drawings read ahead of the threads that parse them.
constexpr size_t parseAheadBytes = size_t(64) << 20;
// Drawings a parser takes at a time.
constexpr size_t parseRun = 16;

Kind kindOf(const std::string& message)
{
    static const QRegularExpression exact(QStringLiteral(
        "dictionary has duplicated key|reported number of objects \\(\\d+\\) is not one plus|"
        "expected endstream|attempting to recover stream length|recovered stream length|"
        // A SubFilter beside the Standard handler names nothing qpdf needs: the key is made as
        // the Standard handler says, and a wrong one fails the password.
        "file uses encryption SubFilters|"
        // A page listed twice in the tree: qpdf gives the second place a copy of it, as the
        // other readers show the page twice.
        "appears more than once in the pages tree; creating a new page object as a copy|"
        // An encrypted file without one: the key is made with an empty identifier, as every
        // reader does; a wrong key shows when the pages' contents are decoded.
        "invalid /ID in trailer dictionary|"
        // An object read whole and followed by something else: the object is what every reader
        // reads.
        "^expected endobj$|"
        // "N 0 obj endobj": a null written as nothing, which every reader reads as null.
        "^empty object treated as null$"));
    static const QRegularExpression rebuilt(QStringLiteral(
        "^file is damaged$|xref not found|can't find startxref|Attempting to reconstruct cross-reference table|"
        "invalid xref|xref syntax invalid|xref stream"));
    const QString text = QString::fromStdString(message);
    if (exact.match(text).hasMatch())
        return Kind::exact;
    // Entries beyond the table's /Size are left unread, as every reader does; fewer than it
    // names is a table cut short.
    static const QRegularExpression sized(
        QStringLiteral("^Cross-reference stream data has the wrong size; expected = (\\d+); actual = (\\d+)$"));
    if (const QRegularExpressionMatch match = sized.match(text); match.hasMatch())
        return match.captured(2).toLongLong() > match.captured(1).toLongLong() ? Kind::exact : Kind::damage;
    if (rebuilt.match(text).hasMatch())
        return Kind::rebuilt;
    return Kind::damage;
}

// Visits every object the trailer leads to, once each, until visit says stop.
bool walkObjects(QPDF& qpdf, const std::function<bool(QPDFObjectHandle&)>& visit)
{
    std::set<QPDFObjGen> seen;
    std::vector<QPDFObjectHandle> pending{qpdf.getTrailer()};
    while (!pending.empty()) {
        QPDFObjectHandle object = pending.back();
        pending.pop_back();
        if (object.isIndirect() && !seen.insert(object.getObjGen()).second)
            continue;
        if (!visit(object))
            return false;
        if (object.isStream())
            object = object.getDict();
        if (object.isArray()) {
            for (int i = 0, n = object.getArrayNItems(); i < n; ++i)
                pending.push_back(object.getArrayItem(i));
        } else if (object.isDictionary()) {
            // The map, not the keys: qpdf leaves out keys whose value reads as null.
            for (const auto& [key, value] : object.getDictAsMap()) {
                // A page's parent leads back up the tree; it is found from above.
                if (key != "/Parent" && key != "/P")
                    pending.push_back(value);
            }
        }
    }
    return true;
}

// Every object the trailer leads to is there: a table rebuilt from a file cut short or with a
// span lost finds the objects that survive, and references to the others read as null.
bool everyReferenceFound(QPDF& qpdf)
{
    return walkObjects(qpdf, [](QPDFObjectHandle& object) { return !(object.isIndirect() && object.isNull()); });
}

// Reads every object the file leads to, and decodes its embedded fonts: what MuPDF repaired, or a
// font it could not load, may lie where no page's drawing reaches. qpdf warns of what it finds.
bool embeddedFontsDecode(QPDF& qpdf)
{
    Pl_Discard discard;
    return walkObjects(qpdf, [&](QPDFObjectHandle& object) {
        if (!object.isDictionary() || !object.getKey("/Type").isNameAndEquals("/FontDescriptor"))
            return true;
        for (const char* key : {"/FontFile", "/FontFile2", "/FontFile3"}) {
            QPDFObjectHandle font = object.getKey(key);
            if (font.isNull())
                continue;
            if (!font.isStream() || !font.pipeStreamData(&discard, nullptr, 0, qpdf_dl_generalized))
                return false;
        }
        return true;
    });
}

// A page drawn by one stream that is only deflated: its bytes as read, decrypted, are inflated
// on a parsing thread rather than on the one that reads the document. Any other drawing is
// decoded by qpdf as it reads it.
bool isDeflatedOnly(QPDFObjectHandle contents)
{
    if (!contents.isStream())
        return false;
    QPDFObjectHandle dictionary = contents.getDict();
    QPDFObjectHandle filter = dictionary.getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1)
        filter = filter.getArrayItem(0);
    return filter.isNameAndEquals("/FlateDecode") && dictionary.getKey("/DecodeParms").isNull();
}

// The drawing qpdf's own inflating makes of the bytes, or nothing when it had anything to say:
// then qpdf decodes the stream itself, and says it where it should.
std::optional<std::string> inflated(const Buffer& raw)
{
    std::string data;
    bool warned = false;
    try {
        Pl_String sink("page drawing", nullptr, data);
        Pl_Flate flate("page drawing", &sink, Pl_Flate::a_inflate);
        flate.setWarnCallback([&warned](char const*, int) { warned = true; });
        flate.write(raw.getBuffer(), raw.getSize());
        flate.finish();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (warned)
        return std::nullopt;
    return data;
}

} // namespace

bool PdfRepairs::qpdfRepairedExactly(QPDF& qpdf)
{
    if (!qpdf.anyWarnings())
        return true;
    bool rebuilt = false;
    for (const QPDFExc& warning : qpdf.getWarnings()) {
        switch (kindOf(warning.getMessageDetail())) {
        case Kind::exact: break;
        case Kind::rebuilt: rebuilt = true; break;
        case Kind::damage: return false;
        }
    }
    if (rebuilt) {
        const bool found = everyReferenceFound(qpdf);
        // Resolving the objects may itself have found damage.
        if (!found || qpdf.anyWarnings())
            return false;
    }
    return true;
}

void PdfRepairs::parsePageContents(QPDF& qpdf)
{
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(qpdf).getAllPages();
    const size_t helpers = size_t(std::clamp(QThread::idealThreadCount(), 1, 4) - 1);
    if (helpers == 0 || pages.size() < 2 * helpers) {
        for (QPDFPageObjectHelper& page : pages) {
            std::string data;
            Pl_String sink("page drawing", nullptr, data);
            page.pipeContents(&sink);
            for (const QPDFExc& warning : PdfDrawingSyntax::warnings(data, "page drawing"))
                qpdf.warn(warning);
        }
        return;
    }
    // qpdf reads one page's drawing at a time, here; the parsing, most of the cost, runs on a
    // few threads over drawings read ahead (a bounded amount), whose warnings come back to this
    // document in page order.
    struct Drawing {
        std::string data;
        std::shared_ptr<Buffer> deflated;
        bool left = false; // its stream for qpdf to decode after all
        std::vector<QPDFExc> warnings;
        std::exception_ptr error;
    };
    std::vector<Drawing> drawings(pages.size());
    std::mutex lock;
    // Drawings are handed over a run at a time: one wake-up per page cost more than most
    // pages' parsing, and woke every thread where one would do.
    std::condition_variable ready; // drawings to parse, or the end
    std::condition_variable room;  // the reader may read ahead again
    size_t read = 0;     // drawings read so far
    size_t taken = 0;    // drawings handed to a parser
    size_t pending = 0;  // bytes read and not yet parsed
    bool ended = false;  // reading stopped, at the end or on an error
    bool readerWaits = false;
    const auto parse = [&] {
        for (;;) {
            size_t first = 0;
            size_t count = 0;
            {
                std::unique_lock held(lock);
                ready.wait(held, [&] { return read - taken >= parseRun || ((ended || readerWaits) && taken < read) || ended; });
                if (taken >= read)
                    return;
                first = taken;
                count = std::min(parseRun, read - taken);
                taken += count;
            }
            size_t bytes = 0;
            for (size_t index = first; index < first + count; ++index) {
                Drawing& drawing = drawings[index];
                bytes += drawing.deflated ? drawing.deflated->getSize() : drawing.data.size();
                try {
                    std::optional<std::string> data;
                    if (drawing.deflated) {
                        data = inflated(*drawing.deflated);
                        drawing.left = !data;
                    }
                    if (!drawing.left)
                        drawing.warnings = PdfDrawingSyntax::warnings(data ? *data : drawing.data, "page drawing");
                } catch (...) {
                    drawing.error = std::current_exception();
                }
                std::string().swap(drawing.data);
                drawing.deflated.reset();
            }
            bool wake = false;
            {
                std::lock_guard held(lock);
                pending -= bytes;
                wake = readerWaits && pending < parseAheadBytes;
            }
            if (wake)
                room.notify_one();
        }
    };
    std::exception_ptr readError;
    {
        std::vector<std::jthread> threads;
        for (size_t i = 0; i < helpers; ++i)
            threads.emplace_back(parse);
        try {
            for (size_t index = 0; index < pages.size(); ++index) {
                std::string data;
                std::shared_ptr<Buffer> deflated;
                QPDFObjectHandle contents = pages[index].getObjectHandle().getKey("/Contents");
                if (isDeflatedOnly(contents)) {
                    deflated = contents.getRawStreamData();
                } else {
                    Pl_String sink("page drawing", nullptr, data);
                    pages[index].pipeContents(&sink);
                }
                std::unique_lock held(lock);
                if (pending >= parseAheadBytes) {
                    // Whatever is read goes to the parsers now, however short the run.
                    readerWaits = true;
                    ready.notify_all();
                    room.wait(held, [&] { return pending < parseAheadBytes; });
                    readerWaits = false;
                }
                pending += deflated ? deflated->getSize() : data.size();
                drawings[index].data = std::move(data);
                drawings[index].deflated = std::move(deflated);
                ++read;
                if ((read - taken) % parseRun == 0)
                    ready.notify_one();
            }
        } catch (...) {
            readError = std::current_exception();
        }
        {
            std::lock_guard held(lock);
            ended = true;
        }
        ready.notify_all();
    }
    for (size_t index = 0; index < read; ++index) {
        Drawing& drawing = drawings[index];
        if (drawing.left && !drawing.error) {
            std::string data;
            Pl_String sink("page drawing", nullptr, data);
            pages[index].pipeContents(&sink);
            drawing.warnings = PdfDrawingSyntax::warnings(data, "page drawing");
        }
        for (const QPDFExc& warning : drawing.warnings)
            qpdf.warn(warning);
        if (drawing.error)
            std::rethrow_exception(drawing.error);
    }
    if (readError)
        std::rethrow_exception(readError);
}

bool PdfRepairs::isMuPdfRepair(const QString& warning)
{
    // A drawing that does not parse is what MuPDF makes of a stream whose length it guessed
    // again: qpdf, reading it by its stated length, says whether the drawing itself parses.
    static const QRegularExpression repair(QStringLiteral(
        "^(trying to repair broken xref|repairing PDF document|PDF stream Length incorrect|"
        "syntax error in content stream|"
        "missing file identifier, may not be able to do decryption|"
        "expected 'endstream'|.*(object|key).*(duplicate|repeated).*|"
        // A subsection's first entry on its header's line, read as every reader reads it.
        "broken xref subsection\\. proceeding anyway\\.|"
        // An object not closed by its keyword: qpdf says whether it reads whole.
        "expected 'endobj' or 'stream' keyword.*|"
        // A character skipped in a hexadecimal string: where qpdf reads it (a page's drawing,
        // an object) it is damage, where it does not (a font's character map) it loses what
        // every reader loses.
        "invalid character in hex string|"
        // A stream without its end: a picture it leaves short says so ("padding truncated
        // image"), and qpdf decodes and parses what the pages draw.
        "premature end of data in flate filter|"
        "\\.\\.\\. repeated \\d+ times\\.\\.\\.)$"));
    return repair.match(warning).hasMatch();
}

bool PdfRepairs::qpdfReadsWhole(const QByteArray& path, const QByteArray& data,
                                const std::optional<QByteArray>& password)
{
    if (password) {
        // Stored as the revision wants it: UTF-8, prepared, or PDFDocEncoding.
        for (const PdfPassword::Candidate& attempt : PdfPassword::candidates(QString::fromUtf8(*password))) {
            if (const std::optional<bool> whole = readsWhole(path, data, attempt.bytes.constData()))
                return *whole;
        }
        return false;
    }
    return readsWhole(path, data, nullptr).value_or(false);
}

std::optional<bool> PdfRepairs::readsWhole(const QByteArray& path, const QByteArray& data, const char* key)
{
    try {
        QPDF qpdf;
        qpdf.setSuppressWarnings(true);
        if (data.isEmpty())
            qpdf.processInputSource(std::make_shared<PdfFileSource>(path.toStdString()), key);
        else
            qpdf.processMemoryFile("document", data.constData(), size_t(data.size()), key);
        Pl_Discard discard;
        const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(qpdf).getAllPages();
        if (pages.empty())
            return false;
        for (const QPDFPageObjectHelper& page : pages) {
            for (QPDFObjectHandle& stream : QPDFPageObjectHelper(page).getPageContents()) {
                if (stream.isStream() && !stream.pipeStreamData(&discard, nullptr, 0, qpdf_dl_generalized))
                    return false;
            }
        }
        parsePageContents(qpdf);
        return embeddedFontsDecode(qpdf) && qpdfRepairedExactly(qpdf);
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            return std::nullopt;
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace qv
