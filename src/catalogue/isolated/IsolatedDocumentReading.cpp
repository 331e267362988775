#include "catalogue/isolated/IsolatedDocumentReading.h"

#include "catalogue/archives/ArchiveReader.h"
#include "catalogue/archives/UnarExtraction.h"
#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "catalogue/lists/SpreadsheetCatalogue.h"
#include "catalogue/SystemServices.h"
#include "documents/office/OfficeConverter.h"
#include "documents/readers/DocumentLoader.h"
#include "documents/readers/EPUBReader.h"
#include "documents/sheets/DelimitedText.h"
#include "documents/sheets/XlsxReader.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/resample/ImageThumbnail.h"
#include "documents/subtitles/Subtitles.h"
#include "jobs/WorkerPool.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/Error.h"
#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QLocale>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

namespace qv {

namespace {

using Block = IsolatedDocumentReading::Block;
using Preview = IsolatedDocumentReading::Preview;

// A window waits for this at most; a word processor's document read through LibreOffice may
// take some seconds.
constexpr std::chrono::milliseconds answerLimit{15000};

// Collects blocks up to the bounds, noting what was left out.
class Collector {
public:
    // No more is taken once the bounds are reached; what was there before is kept.
    bool full() const { return m_full; }

    // A table whose first row only names its columns (an archive's, a subtitle file's) keeps
    // that row beside the most rows a preview shows.
    void add(Block block, bool namesRow = false)
    {
        if (m_full)
            return;
        if (m_preview.blocks.size() >= IsolatedDocumentReading::maximumBlocks) {
            m_preview.cut = true;
            m_full = true;
            return;
        }
        if (block.kind == Block::Kind::picture) {
            if (!holds(block)) {
                m_preview.cut = true;
                return;
            }
            m_picturePixels += qint64(block.picture.width()) * block.picture.height();
        }
        const qsizetype whole = block.text.size();
        block.text = bounded(block.text, IsolatedDocumentReading::maximumCharacters);
        if (block.text.size() != whole)
            block.spans.clear();
        if (block.kind == Block::Kind::table)
            block.rows = boundedRows(block.rows, IsolatedDocumentReading::maximumRows + (namesRow ? 1 : 0));
        m_characters += block.text.size();
        for (const QStringList& row : block.rows)
            for (const QString& cell : row)
                m_characters += cell.size();
        m_preview.blocks.append(std::move(block));
        if (m_characters >= IsolatedDocumentReading::maximumCharacters) {
            m_preview.cut = true;
            m_full = true;
        }
    }

    void setTitle(const QString& title) { m_preview.title = bounded(title, 300); }
    bool pictureTimeSpent() const { return m_started.hasExpired(answerLimit.count() / 3); }
    qint64 picturePixelsLeft() const { return IsolatedDocumentReading::maximumPicturePixels - m_picturePixels; }
    bool cutNoteSet() const { return !m_preview.cutNote.isEmpty(); }
    // More was there than is shown; what is added after this is still kept.
    void markCut(const QString& note = {})
    {
        m_preview.cut = true;
        if (!note.isEmpty())
            m_preview.cutNote = note.left(300);
    }
    Preview take() { return std::move(m_preview); }

private:
    // A picture shown within the bounds, its pixels at most twice that and within those left.
    bool holds(const Block& block) const
    {
        const QSize& shown = block.shown;
        const QSize pixels = block.picture.size();
        return !block.picture.isNull() && shown.width() >= 1 && shown.height() >= 1
            && shown.width() <= IsolatedDocumentReading::widestPicture
            && shown.height() <= 4 * IsolatedDocumentReading::widestPicture && pixels.width() <= 2 * shown.width()
            && pixels.height() <= 2 * shown.height() && qint64(pixels.width()) * pixels.height() <= picturePixelsLeft();
    }

    QString bounded(const QString& text, int limit)
    {
        if (text.size() <= limit)
            return text;
        m_preview.cut = true;
        return text.left(limit) + QChar(0x2026);
    }

    QList<QStringList> boundedRows(const QList<QStringList>& rows, int limit)
    {
        QList<QStringList> kept;
        for (const QStringList& row : rows) {
            if (kept.size() >= limit) {
                m_preview.cut = true;
                break;
            }
            QStringList cells;
            for (const QString& cell : row) {
                if (cells.size() >= IsolatedDocumentReading::maximumColumns) {
                    m_preview.cut = true;
                    break;
                }
                cells.append(bounded(cell, IsolatedDocumentReading::maximumCellCharacters));
            }
            kept.append(cells);
        }
        return kept;
    }

    Preview m_preview;
    qint64 m_characters = 0;
    qint64 m_picturePixels = 0;
    bool m_full = false;
    QElapsedTimer m_started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
};

// The size a picture is shown at: the one its document states, else its own, within the
// bounds and its proportions kept.
QSize shownSize(QSizeF size)
{
    if (!(size.width() > 0 && size.height() > 0))
        return {};
    const QSizeF box(IsolatedDocumentReading::widestPicture, 4.0 * IsolatedDocumentReading::widestPicture);
    if (size.width() > box.width() || size.height() > box.height())
        size = size.scaled(box, Qt::KeepAspectRatio);
    return QSize(std::max(1, int(std::lround(size.width()))), std::max(1, int(std::lround(size.height()))));
}

// The picture a document holds, decoded by libvips from a copy in folder at twice the size it
// is shown at (never enlarged) and within the pixels left. Absent for one libvips cannot read
// (a Windows metafile), and for one that would pass the pixels left.
std::optional<Block> pictureBlock(const DocBlock& source, const QString& folder, int index, qint64 pixelsLeft)
{
    if (!source.data || source.data->isEmpty())
        return std::nullopt;
    const QString path = folder + QStringLiteral("/picture-%1").arg(index);
    QFile copy(path);
    const auto removeCopy = qScopeGuard([&copy] { copy.remove(); });
    if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly) || copy.write(*source.data) != source.data->size()
        || !copy.flush()) {
        qCInfo(appLog) << "A preview leaves a picture out:" << copy.errorString();
        return std::nullopt;
    }
    copy.close();
    QSize shown = shownSize(source.size);
    if (shown.isEmpty()) {
        const std::optional<QSize> pixels = imagePixelSize(path);
        if (!pixels)
            return std::nullopt;
        shown = shownSize(QSizeF(*pixels));
        if (shown.isEmpty())
            return std::nullopt;
    }
    QSize box = shown * 2;
    const qint64 area = qint64(box.width()) * box.height();
    if (area > pixelsLeft) {
        const double factor = std::sqrt(double(pixelsLeft) / double(area));
        box = QSize(int(box.width() * factor), int(box.height() * factor));
        // Fewer pixels than it is shown at would blur it: left out instead.
        if (box.width() < shown.width() || box.height() < shown.height())
            return std::nullopt;
    }
    std::optional<QImage> picture = imageThumbnail(path, box);
    if (!picture || picture->isNull())
        return std::nullopt;
    Block block;
    block.kind = Block::Kind::picture;
    block.picture = std::move(*picture);
    block.shown = shown;
    return block;
}

// pictureFolder: where the document's pictures are decoded; without it they are left out.
void addModel(Collector& collector, const QList<DocBlock>& blocks, const QString& pictureFolder = {},
              std::stop_token stop = {})
{
    int pictures = 0;
    for (const DocBlock& source : blocks) {
        if (collector.full())
            return;
        if (source.kind == DocBlock::Kind::image) {
            if (pictureFolder.isEmpty())
                continue;
            if (stop.stop_requested())
                throw CancellationError();
            // A picture without a shrink on load (a PNG of hundreds of megapixels) takes seconds:
            // past a third of the answer's time the rest are left out rather than the text with them.
            if (collector.pictureTimeSpent()) {
                collector.markCut();
                continue;
            }
            if (std::optional<Block> picture = pictureBlock(source, pictureFolder, pictures++, collector.picturePixelsLeft()))
                collector.add(std::move(*picture));
            continue;
        }
        Block block;
        block.level = std::max(source.level, 1);
        block.ordered = source.ordered;
        switch (source.kind) {
        case DocBlock::Kind::heading: block.kind = Block::Kind::heading; break;
        case DocBlock::Kind::listItem: block.kind = Block::Kind::listItem; break;
        case DocBlock::Kind::paragraph: block.kind = Block::Kind::paragraph; break;
        case DocBlock::Kind::code: block.kind = Block::Kind::code; break;
        case DocBlock::Kind::quote: block.kind = Block::Kind::quote; break;
        case DocBlock::Kind::rule: block.kind = Block::Kind::rule; break;
        case DocBlock::Kind::table:
            block.kind = Block::Kind::table;
            block.rows = source.rows;
            break;
        case DocBlock::Kind::image:
        case DocBlock::Kind::pageBreak:
            continue;
        }
        block.text = source.plainText();
        if (block.kind != Block::Kind::rule && block.kind != Block::Kind::table && block.text.trimmed().isEmpty())
            continue;
        // The look of the text goes along: bold, italic and the rest.
        bool styled = false;
        for (const DocRun& run : source.runs) {
            Block::Span span{int(run.text.size()), run.bold, run.italic, run.underline, run.strike, run.code};
            styled = styled || span.bold || span.italic || span.underline || span.strike || span.code;
            block.spans.append(span);
        }
        if (!styled)
            block.spans.clear();
        collector.add(std::move(block));
    }
}

// A folder for what the readers unpack, inside the process's own temporary folder.
QString checkedWorkFolder(const QTemporaryDir& folder)
{
    if (!folder.isValid())
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot make a folder to read the file in"));
    return folder.path();
}

QString workFolderPattern()
{
    return QDir::tempPath() + QStringLiteral("/preview-XXXXXX");
}

Preview readDocument(const FileInfo& file, std::stop_token stop, bool pictures)
{
    const QTemporaryDir folder(workFolderPattern());
    const std::unique_ptr<LoadedDocument> loaded =
        DocumentLoader::loadDocument(file, QUrl::fromLocalFile(checkedWorkFolder(folder)), stop);
    Collector collector;
    const DocumentModel& model = loaded->model();
    collector.setTitle(model.title.value_or(loaded->title()));
    addModel(collector, model.blocks, pictures ? folder.path() : QString(), stop);
    return collector.take();
}

// The first chapter that holds any text: a cover page is passed over.
Preview readBook(const FileInfo& file, std::stop_token stop, bool pictures)
{
    const QTemporaryDir folder(workFolderPattern());
    const EPUBReader::Book book = EPUBReader::read(file.url, QUrl::fromLocalFile(checkedWorkFolder(folder)), stop);
    Collector collector;
    collector.setTitle(book.title.value_or(file.baseName));
    // A title page, a dedication or a table of contents holds a few words: the first chapter
    // with some paragraphs of text is the one shown, else the first with any text.
    constexpr int chaptersTried = 12;
    constexpr qsizetype chapterCharacters = 400;
    std::optional<std::pair<int, DocumentModel>> firstWithText;
    std::optional<std::pair<int, DocumentModel>> chosen;
    for (int i = 0; i < book.chapters.size() && i < chaptersTried && !chosen; ++i) {
        EPUBReader::Book one = book;
        one.chapters = {book.chapters[i]};
        DocumentModel model = EPUBReader::documentModel(one, stop);
        qsizetype characters = 0;
        for (const DocBlock& block : model.blocks) {
            if (block.kind != DocBlock::Kind::image)
                characters += block.plainText().trimmed().size();
        }
        if (characters == 0)
            continue;
        if (characters >= chapterCharacters)
            chosen.emplace(i, std::move(model));
        else if (!firstWithText)
            firstWithText.emplace(i, std::move(model));
    }
    if (!chosen)
        chosen = std::move(firstWithText);
    if (chosen) {
        addModel(collector, chosen->second.blocks, pictures ? folder.path() : QString(), stop);
        if (book.chapters.size() > 1)
            collector.markCut(QStringLiteral("Chapter %1 of %2 is shown.").arg(chosen->first + 1).arg(book.chapters.size()));
    }
    return collector.take();
}

QString otherSheetsNote(const QList<Sheet>& sheets)
{
    QStringList others;
    for (qsizetype i = 1; i < sheets.size() && i < 6; ++i)
        others.append(QStringLiteral("“") + sheets[i].name + QStringLiteral("”"));
    if (sheets.size() > 6)
        others.append(QStringLiteral("%1 more").arg(sheets.size() - 6));
    return QStringLiteral("Only the first sheet is shown; the workbook also has ") + others.join(QStringLiteral(", "))
        + QLatin1Char('.');
}

Preview readSpreadsheet(const FileInfo& file, std::stop_token stop)
{
    Collector collector;
    Block table;
    table.kind = Block::Kind::table;
    const QString id = file.format ? file.format->id : file.ext;
    if (id == QLatin1String("xlsx")) {
        const QList<Sheet> sheets = readXLSX(file.path(), stop);
        if (sheets.isEmpty())
            throw EngineError(QStringLiteral("This spreadsheet has no sheets"));
        collector.setTitle(sheets.first().name);
        table.rows = sheets.first().rows;
        QStringList notes;
        if (sheets.size() > 1)
            notes.append(otherSheetsNote(sheets));
        // A preview computes nothing: the empty cells are counted instead.
        if (sheets.first().formulasWithoutValue > 0)
            notes.append(missingResultsNote(sheets.first().formulasWithoutValue) + QLatin1Char('.'));
        if (!notes.isEmpty())
            collector.markCut(notes.join(QLatin1Char(' ')));
    } else if (id == QLatin1String("csv") || id == QLatin1String("tsv")) {
        collector.setTitle(file.baseName);
        table.rows = readDelimitedText(file.path());
    } else {
        // Other workbooks are read from the XLSX an office program makes of them.
        const QTemporaryDir folder(workFolderPattern());
        const QUrl converted = QUrl::fromLocalFile(checkedWorkFolder(folder) + QStringLiteral("/sheet.xlsx"));
        OfficeConverter::convertOfficeDocument(file.url, converted, QStringLiteral("xlsx"), FileCategory::spreadsheet,
                                               stop);
        const QList<Sheet> sheets = readXLSX(converted.toLocalFile(), stop);
        if (sheets.isEmpty())
            throw EngineError(QStringLiteral("This spreadsheet has no sheets"));
        collector.setTitle(sheets.first().name);
        table.rows = sheets.first().rows;
        if (sheets.size() > 1)
            collector.markCut(otherSheetsNote(sheets));
    }
    if (table.rows.size() > IsolatedDocumentReading::maximumRows && !collector.cutNoteSet())
        collector.markCut(QStringLiteral("The first %1 rows of %2 are shown.")
                              .arg(IsolatedDocumentReading::maximumRows).arg(table.rows.size()));
    collector.add(std::move(table));
    return collector.take();
}

QString sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

Preview readArchive(const FileInfo& file, std::stop_token stop)
{
    const QString id = file.format ? file.format->id : file.ext;
    const bool single = id == QLatin1String("gz") || id == QLatin1String("bz2") || id == QLatin1String("xz");
    Collector collector;
    collector.setTitle(file.name);
    Block table;
    table.kind = Block::Kind::table;
    table.rows.append({QStringLiteral("Name"), QStringLiteral("Size")});
    if (single) {
        table.rows.append({file.baseName, QString()});
    } else if (id == QLatin1String("rar") && UnarExtraction::needs(file.path(), id) && UnarExtraction::isAvailable()) {
        const QList<UnarExtraction::Entry> listed =
            UnarExtraction::list(file.path(), IsolatedDocumentReading::maximumRows + 1, stop);
        for (const UnarExtraction::Entry& entry : listed) {
            if (table.rows.size() > IsolatedDocumentReading::maximumRows) {
                collector.markCut(QStringLiteral("The first %1 entries are shown.").arg(IsolatedDocumentReading::maximumRows));
                break;
            }
            table.rows.append({entry.folder ? entry.name + QLatin1Char('/') : entry.name,
                               entry.folder ? QString() : sizeText(entry.size)});
        }
    } else {
        ArchiveReader reader(file.path(), ArchiveReader::Kind::archive);
        while (archive_entry* entry = reader.nextEntry()) {
            if (stop.stop_requested())
                throw CancellationError();
            if (table.rows.size() > IsolatedDocumentReading::maximumRows) {
                collector.markCut(QStringLiteral("The first %1 entries are shown.").arg(IsolatedDocumentReading::maximumRows));
                break;
            }
            const bool folder = archive_entry_filetype(entry) == AE_IFDIR;
            QString name = reader.pathname(entry);
            // A nameless entry is extracted under the archive's name.
            if (name.isEmpty() && !folder)
                name = file.baseName;
            if (folder && !name.endsWith(QLatin1Char('/')))
                name += QLatin1Char('/');
            const QString size = folder || !archive_entry_size_is_set(entry)
                                     ? QString()
                                     : sizeText(std::max<qint64>(archive_entry_size(entry), 0));
            table.rows.append({name, size});
        }
    }
    collector.add(std::move(table), true);
    return collector.take();
}

Preview readSubtitles(const FileInfo& file)
{
    const LoadedSubtitles loaded = loadSubtitles(file.path());
    Collector collector;
    collector.setTitle(file.name);
    Block table;
    table.kind = Block::Kind::table;
    table.rows.append({QStringLiteral("Time"), QStringLiteral("Text")});
    for (const SubtitleCue& cue : loaded.cues) {
        if (table.rows.size() > IsolatedDocumentReading::maximumRows) {
            collector.markCut(QStringLiteral("The first %1 cues of %2 are shown.")
                                  .arg(IsolatedDocumentReading::maximumRows).arg(loaded.cues.size()));
            break;
        }
        table.rows.append({formatClockTime(cue.start, u".") + QStringLiteral(" – ") + formatClockTime(cue.end, u"."),
                           strippedSubtitleMarkup(cue.text)});
    }
    collector.add(std::move(table), true);
    return collector.take();
}

QString kindName(Block::Kind kind)
{
    switch (kind) {
    case Block::Kind::heading: return QStringLiteral("heading");
    case Block::Kind::paragraph: return QStringLiteral("paragraph");
    case Block::Kind::listItem: return QStringLiteral("listItem");
    case Block::Kind::code: return QStringLiteral("code");
    case Block::Kind::quote: return QStringLiteral("quote");
    case Block::Kind::table: return QStringLiteral("table");
    case Block::Kind::rule: return QStringLiteral("rule");
    case Block::Kind::picture: return QStringLiteral("picture");
    }
    return QString();
}

std::optional<Block::Kind> kindFromName(const QString& name)
{
    for (const Block::Kind kind : {Block::Kind::heading, Block::Kind::paragraph, Block::Kind::listItem,
                                   Block::Kind::code, Block::Kind::quote, Block::Kind::table, Block::Kind::rule,
                                   Block::Kind::picture})
        if (kindName(kind) == name)
            return kind;
    return std::nullopt;
}

qint64 memoryLimit()
{
    const int megabytes = Settings::shared().intValue(SettingsKey::workerMemory);
    return qint64(megabytes >= 256 ? megabytes : 4096) << 20;
}

} // namespace

bool IsolatedDocumentReading::reads(const FileInfo& file)
{
    if (file.isDirectory || !file.format)
        return false;
    const QString& id = file.format->id;
    switch (file.category) {
    case FileCategory::document:
        // Bundles of the other desktop and its clippings have no reader here.
        return id != QLatin1String("pages") && id != QLatin1String("rtfd") && id != QLatin1String("textclipping")
            && id != QLatin1String("webarchive");
    case FileCategory::ebook:
        return id == QLatin1String("epub");
    case FileCategory::spreadsheet:
        return id == QLatin1String("xlsx") || id == QLatin1String("csv") || id == QLatin1String("tsv")
            || OfficeConverter::canConvertOfficeDocument(QStringLiteral("xlsx"), FileCategory::spreadsheet, id);
    case FileCategory::archive:
    case FileCategory::subtitle:
        return true;
    default:
        return false;
    }
}

IsolatedDocumentReading::Preview IsolatedDocumentReading::read(const FileInfo& file, std::stop_token stop,
                                                               bool pictures)
{
    switch (file.category) {
    case FileCategory::ebook: return readBook(file, stop, pictures);
    case FileCategory::spreadsheet: return readSpreadsheet(file, stop);
    case FileCategory::archive: return readArchive(file, stop);
    case FileCategory::subtitle: return readSubtitles(file);
    default: return readDocument(file, stop, pictures);
    }
}

std::optional<IsolatedDocumentReading::Preview> IsolatedDocumentReading::preview(const FileInfo& file,
                                                                                 std::stop_token stop, bool pictures)
{
    if (!reads(file))
        return std::nullopt;
    try {
        if (!IsolatedReading::isEnabled())
            return read(file, stop, pictures);
        const QJsonObject answer = catalogueWorkers().call(
            QStringLiteral("documentPreview"), {{QStringLiteral("path"), file.path()}, {QStringLiteral("pictures"), pictures}},
            stop, memoryLimit(), answerLimit);
        if (!answer.contains(QStringLiteral("blocks")))
            return std::nullopt;
        return fromJson(answer);
    } catch (const std::exception& error) {
        qCInfo(appLog) << "No preview of" << file.name << ":" << error.what();
        return std::nullopt;
    }
}

QJsonObject IsolatedDocumentReading::toJson(const Preview& preview, const QString& pictureFolder)
{
    QJsonArray blocks;
    for (const Block& block : preview.blocks) {
        QJsonObject object{{QStringLiteral("kind"), kindName(block.kind)}};
        if (block.kind == Block::Kind::picture) {
            if (pictureFolder.isEmpty() || block.picture.isNull())
                continue;
            object.insert(QStringLiteral("picture"), WorkerProtocol::pictureToJson(block.picture, pictureFolder));
            object.insert(QStringLiteral("width"), block.shown.width());
            object.insert(QStringLiteral("height"), block.shown.height());
        }
        if (!block.text.isEmpty())
            object.insert(QStringLiteral("text"), block.text);
        if (block.kind == Block::Kind::heading || block.kind == Block::Kind::listItem)
            object.insert(QStringLiteral("level"), block.level);
        if (block.ordered)
            object.insert(QStringLiteral("ordered"), true);
        if (!block.spans.isEmpty()) {
            QJsonArray spans;
            for (const Block::Span& span : block.spans) {
                QJsonObject one{{QStringLiteral("length"), span.length}};
                if (span.bold)
                    one.insert(QStringLiteral("bold"), true);
                if (span.italic)
                    one.insert(QStringLiteral("italic"), true);
                if (span.underline)
                    one.insert(QStringLiteral("underline"), true);
                if (span.strike)
                    one.insert(QStringLiteral("strike"), true);
                if (span.code)
                    one.insert(QStringLiteral("code"), true);
                spans.append(one);
            }
            object.insert(QStringLiteral("spans"), spans);
        }
        if (!block.rows.isEmpty()) {
            QJsonArray rows;
            for (const QStringList& row : block.rows)
                rows.append(QJsonArray::fromStringList(row));
            object.insert(QStringLiteral("rows"), rows);
        }
        blocks.append(object);
    }
    return {{QStringLiteral("title"), preview.title}, {QStringLiteral("blocks"), blocks},
            {QStringLiteral("cut"), preview.cut}, {QStringLiteral("cutNote"), preview.cutNote}};
}

IsolatedDocumentReading::Preview IsolatedDocumentReading::fromJson(const QJsonObject& json)
{
    // What comes back is held to the same bounds as what was sent.
    Collector collector;
    collector.setTitle(json.value(QStringLiteral("title")).toString());
    for (const QJsonValue& value : json.value(QStringLiteral("blocks")).toArray()) {
        const QJsonObject object = value.toObject();
        const std::optional<Block::Kind> kind = kindFromName(object.value(QStringLiteral("kind")).toString());
        if (!kind)
            continue;
        Block block;
        block.kind = *kind;
        if (block.kind == Block::Kind::picture) {
            // Read even when it goes unshown: reading removes the worker's file.
            block.picture = WorkerProtocol::pictureFromJson(object.value(QStringLiteral("picture"))).value_or(QImage());
            block.shown = QSize(object.value(QStringLiteral("width")).toInt(), object.value(QStringLiteral("height")).toInt());
            collector.add(std::move(block));
            continue;
        }
        block.text = object.value(QStringLiteral("text")).toString();
        block.level = std::clamp(object.value(QStringLiteral("level")).toInt(1), 1, 6);
        block.ordered = object.value(QStringLiteral("ordered")).toBool();
        // Spans that do not add up to the text are dropped: the text shows plain.
        qsizetype covered = 0;
        for (const QJsonValue& spanValue : object.value(QStringLiteral("spans")).toArray()) {
            const QJsonObject one = spanValue.toObject();
            Block::Span span;
            span.length = std::max(0, one.value(QStringLiteral("length")).toInt());
            span.bold = one.value(QStringLiteral("bold")).toBool();
            span.italic = one.value(QStringLiteral("italic")).toBool();
            span.underline = one.value(QStringLiteral("underline")).toBool();
            span.strike = one.value(QStringLiteral("strike")).toBool();
            span.code = one.value(QStringLiteral("code")).toBool();
            covered += span.length;
            block.spans.append(span);
        }
        if (covered != block.text.size())
            block.spans.clear();
        for (const QJsonValue& row : object.value(QStringLiteral("rows")).toArray()) {
            QStringList cells;
            for (const QJsonValue& cell : row.toArray())
                cells.append(cell.toString());
            block.rows.append(cells);
        }
        // Held to the bounds again, a row naming the columns allowed.
        collector.add(std::move(block), true);
    }
    if (json.value(QStringLiteral("cut")).toBool())
        collector.markCut(json.value(QStringLiteral("cutNote")).toString());
    return collector.take();
}

WorkerServer::Calls IsolatedDocumentReading::workerCalls()
{
    WorkerServer::Calls calls;
    calls.insert(QStringLiteral("documentPreview"), [](const QJsonObject& arguments) {
        const FileInfo file = fileInfoForURL(QUrl::fromLocalFile(arguments.value(QStringLiteral("path")).toString()),
                                             probeWithoutWaiting());
        if (!reads(file))
            return QJsonObject();
        return toJson(read(file, {}, arguments.value(QStringLiteral("pictures")).toBool()),
                      qEnvironmentVariable("TMPDIR"));
    });
    return calls;
}

} // namespace qv
