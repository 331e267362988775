#include "catalogue/IsolatedDocumentReading.h"

#include "catalogue/ArchiveReader.h"
#include "catalogue/CatalogueWorkers.h"
#include "catalogue/IsolatedReading.h"
#include "catalogue/SystemServices.h"
#include "documents/DelimitedText.h"
#include "documents/DocumentLoader.h"
#include "documents/EPUBReader.h"
#include "documents/OfficeConverter.h"
#include "documents/Subtitles.h"
#include "documents/XlsxReader.h"
#include "jobs/WorkerPool.h"
#include "model/CancellationError.h"
#include "model/EngineError.h"
#include "model/Error.h"
#include "model/SystemError.h"
#include "model/Log.h"
#include "model/Settings.h"
#include "model/SettingsKeys.h"

#include <QDir>
#include <QJsonArray>
#include <QLocale>
#include <QTemporaryDir>

#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

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
    bool full() const { return m_preview.cut; }

    void add(Block block)
    {
        if (m_preview.cut)
            return;
        if (m_preview.blocks.size() >= IsolatedDocumentReading::maximumBlocks) {
            m_preview.cut = true;
            return;
        }
        block.text = bounded(block.text, IsolatedDocumentReading::maximumCharacters);
        if (block.kind == Block::Kind::table)
            block.rows = boundedRows(block.rows);
        m_characters += block.text.size();
        for (const QStringList& row : block.rows)
            for (const QString& cell : row)
                m_characters += cell.size();
        m_preview.blocks.append(std::move(block));
        if (m_characters >= IsolatedDocumentReading::maximumCharacters)
            m_preview.cut = true;
    }

    void setTitle(const QString& title) { m_preview.title = bounded(title, 300); }
    void markCut() { m_preview.cut = true; }
    Preview take() { return std::move(m_preview); }

private:
    QString bounded(const QString& text, int limit)
    {
        if (text.size() <= limit)
            return text;
        m_preview.cut = true;
        return text.left(limit) + QChar(0x2026);
    }

    QList<QStringList> boundedRows(const QList<QStringList>& rows)
    {
        QList<QStringList> kept;
        for (const QStringList& row : rows) {
            if (kept.size() >= IsolatedDocumentReading::maximumRows) {
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
};

void addModel(Collector& collector, const QList<DocBlock>& blocks)
{
    for (const DocBlock& source : blocks) {
        if (collector.full())
            return;
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

Preview readDocument(const FileInfo& file, std::stop_token stop)
{
    const QTemporaryDir folder(workFolderPattern());
    const std::unique_ptr<LoadedDocument> loaded =
        DocumentLoader::loadDocument(file, QUrl::fromLocalFile(checkedWorkFolder(folder)), stop);
    Collector collector;
    const DocumentModel& model = loaded->model();
    collector.setTitle(model.title.value_or(loaded->title()));
    addModel(collector, model.blocks);
    return collector.take();
}

// The first chapter that holds any text: a cover page is passed over.
Preview readBook(const FileInfo& file, std::stop_token stop)
{
    const QTemporaryDir folder(workFolderPattern());
    const EPUBReader::Book book = EPUBReader::read(file.url, QUrl::fromLocalFile(checkedWorkFolder(folder)), stop);
    Collector collector;
    collector.setTitle(book.title.value_or(file.baseName));
    constexpr int chaptersTried = 6;
    for (int i = 0; i < book.chapters.size() && i < chaptersTried; ++i) {
        EPUBReader::Book one = book;
        one.chapters = {book.chapters[i]};
        const DocumentModel model = EPUBReader::documentModel(one, stop);
        const bool hasText = std::any_of(model.blocks.begin(), model.blocks.end(), [](const DocBlock& block) {
            return block.kind != DocBlock::Kind::image && !block.plainText().trimmed().isEmpty();
        });
        if (!hasText)
            continue;
        addModel(collector, model.blocks);
        if (i + 1 < book.chapters.size())
            collector.markCut();
        break;
    }
    return collector.take();
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
        if (sheets.size() > 1)
            collector.markCut();
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
            collector.markCut();
    }
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
    } else {
        ArchiveReader reader(file.path(), ArchiveReader::Kind::archive);
        while (archive_entry* entry = reader.nextEntry()) {
            if (stop.stop_requested())
                throw CancellationError();
            if (table.rows.size() > IsolatedDocumentReading::maximumRows) {
                collector.markCut();
                break;
            }
            const bool folder = archive_entry_filetype(entry) == AE_IFDIR;
            QString name = reader.pathname(entry);
            if (folder && !name.endsWith(QLatin1Char('/')))
                name += QLatin1Char('/');
            const QString size = folder || !archive_entry_size_is_set(entry)
                                     ? QString()
                                     : sizeText(std::max<qint64>(archive_entry_size(entry), 0));
            table.rows.append({name, size});
        }
    }
    collector.add(std::move(table));
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
            collector.markCut();
            break;
        }
        table.rows.append({formatClockTime(cue.start, u".") + QStringLiteral(" – ") + formatClockTime(cue.end, u"."),
                           strippedSubtitleMarkup(cue.text)});
    }
    collector.add(std::move(table));
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
    }
    return QString();
}

std::optional<Block::Kind> kindFromName(const QString& name)
{
    for (const Block::Kind kind : {Block::Kind::heading, Block::Kind::paragraph, Block::Kind::listItem,
                                   Block::Kind::code, Block::Kind::quote, Block::Kind::table, Block::Kind::rule})
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

IsolatedDocumentReading::Preview IsolatedDocumentReading::read(const FileInfo& file, std::stop_token stop)
{
    switch (file.category) {
    case FileCategory::ebook: return readBook(file, stop);
    case FileCategory::spreadsheet: return readSpreadsheet(file, stop);
    case FileCategory::archive: return readArchive(file, stop);
    case FileCategory::subtitle: return readSubtitles(file);
    default: return readDocument(file, stop);
    }
}

std::optional<IsolatedDocumentReading::Preview> IsolatedDocumentReading::preview(const FileInfo& file,
                                                                                 std::stop_token stop)
{
    if (!reads(file))
        return std::nullopt;
    try {
        if (!IsolatedReading::isEnabled())
            return read(file, stop);
        const QJsonObject answer = catalogueWorkers().call(
            QStringLiteral("documentPreview"), {{QStringLiteral("path"), file.path()}}, stop, memoryLimit(), answerLimit);
        if (!answer.contains(QStringLiteral("blocks")))
            return std::nullopt;
        return fromJson(answer);
    } catch (const std::exception& error) {
        qCInfo(appLog) << "No preview of" << file.name << ":" << error.what();
        return std::nullopt;
    }
}

QJsonObject IsolatedDocumentReading::toJson(const Preview& preview)
{
    QJsonArray blocks;
    for (const Block& block : preview.blocks) {
        QJsonObject object{{QStringLiteral("kind"), kindName(block.kind)}};
        if (!block.text.isEmpty())
            object.insert(QStringLiteral("text"), block.text);
        if (block.kind == Block::Kind::heading || block.kind == Block::Kind::listItem)
            object.insert(QStringLiteral("level"), block.level);
        if (block.ordered)
            object.insert(QStringLiteral("ordered"), true);
        if (!block.rows.isEmpty()) {
            QJsonArray rows;
            for (const QStringList& row : block.rows)
                rows.append(QJsonArray::fromStringList(row));
            object.insert(QStringLiteral("rows"), rows);
        }
        blocks.append(object);
    }
    return {{QStringLiteral("title"), preview.title}, {QStringLiteral("blocks"), blocks},
            {QStringLiteral("cut"), preview.cut}};
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
        block.text = object.value(QStringLiteral("text")).toString();
        block.level = std::clamp(object.value(QStringLiteral("level")).toInt(1), 1, 6);
        block.ordered = object.value(QStringLiteral("ordered")).toBool();
        for (const QJsonValue& row : object.value(QStringLiteral("rows")).toArray()) {
            QStringList cells;
            for (const QJsonValue& cell : row.toArray())
                cells.append(cell.toString());
            block.rows.append(cells);
        }
        collector.add(std::move(block));
    }
    if (json.value(QStringLiteral("cut")).toBool())
        collector.markCut();
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
        return toJson(read(file, {}));
    });
    return calls;
}

} // namespace qv
