#include "catalogue/lists/SpreadsheetCatalogue.h"

#include "catalogue/OperationFactories.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "documents/office/OfficeConverter.h"
#include "documents/office/OfficeEncryption.h"
#include "documents/readers/TextLoaders.h"
#include "documents/sheets/DelimitedText.h"
#include "documents/sheets/WorkbookSheetNames.h"
#include "documents/sheets/XlsxReader.h"
#include "documents/sheets/XlsxWriter.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"

#include <QDir>
#include <QSet>
#include <QUuid>

namespace qv {

namespace {

// The rows of a CSV or TSV; bytes read as U+FFFD are told in the job's messages.
QList<QStringList> readDelimitedTextNoting(const FileInfo& file, OutputPlanner& planner)
{
    qint64 replaced = 0;
    QList<QStringList> rows = readDelimitedText(file.path(), &replaced);
    if (replaced > 0 && planner.notes())
        planner.notes()->addMessage(TextLoaders::replacementNote(file.name, replaced));
    return rows;
}

const QSet<QString> nativeFormats{QStringLiteral("csv"), QStringLiteral("tsv"), QStringLiteral("xlsx")};

QString formatID(const FileInfo& file)
{
    return file.format ? file.format->id : QString();
}

QString freshName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// An office program asked to open a locked workbook fails with nothing to tell.
void throwIfPasswordProtected(const FileInfo& file)
{
    if (OfficeEncryption::isEncryptedPackage(file.path()))
        throw EngineError(OfficeEncryption::passwordProtectedMessage);
}

QChar delimiterForExtension(const QString& extension)
{
    return extension == QLatin1String("tsv") ? QLatin1Char('\t') : QLatin1Char(',');
}

// A text file holds one sheet: the others are named, and where to get them.
QString firstSheetOnlyNote(const QString& fileName, qsizetype sheetCount, const QString& firstName,
                           const QString& extension)
{
    const QString note = QStringLiteral("%1 has %2 sheets: only the first, “%3”, was converted.")
                             .arg(fileName)
                             .arg(sheetCount)
                             .arg(firstName);
    if (extension != QLatin1String("csv"))
        return note;
    return note + QStringLiteral(" Choose “One file per sheet” in the options for all of them.");
}

qint64 formulasWithoutValue(const QList<Sheet>& sheets)
{
    qint64 cells = 0;
    for (const Sheet& sheet : sheets)
        cells += sheet.formulasWithoutValue;
    return cells;
}

// Cells written empty for want of a result are told, never passed over in silence.
void noteFormulasWithoutValue(const QList<Sheet>& written, OutputPlanner& planner)
{
    const qint64 cells = formulasWithoutValue(written);
    if (cells > 0 && planner.notes())
        planner.notes()->addMessage(missingResultsNote(cells));
}

// The first sheet as one delimited file, delivered under the base name.
QUrl deliverFirstSheet(const QList<Sheet>& sheets, const QString& extension,
                       const QString& baseName, OutputPlanner& planner, std::stop_token stop)
{
    noteFormulasWithoutValue(sheets.mid(0, 1), planner);
    const QUrl work = planner.workURL(extension, freshName());
    writeDelimitedFile(sheets.isEmpty() ? QList<QStringList>() : sheets.first().rows,
                       delimiterForExtension(extension), work.toLocalFile(), stop);
    return planner.deliver(work, baseName, extension);
}

// Every sheet as a delimited file in a folder "<base> (sheets)".
QUrl deliverSheetFolder(const QList<Sheet>& sheets, const QString& extension,
                        const QString& baseName, OutputPlanner& planner, std::stop_token stop)
{
    noteFormulasWithoutValue(sheets, planner);
    const QUrl folder = planner.makeWorkSubdirectory(QStringLiteral("sheets"));
    const QStringList names = sheetFileNames(sheets);
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        throwIfCancelled(stop);
        writeDelimitedFile(sheets[i].rows, delimiterForExtension(extension),
                           QDir(folder.toLocalFile()).filePath(names[i] + QLatin1Char('.') + extension), stop);
    }
    return planner.deliver(folder, baseName + QLatin1String(" (sheets)"), QString());
}

QUrl convertSpreadsheet(const FileInfo& file, const QString& extension,
                        const OperationContext& context, OutputPlanner& planner, Progress& progress)
{
    const QString baseName = splitFileName(file.name).baseName;
    if (!nativeFormats.contains(extension) || !nativeFormats.contains(formatID(file))) {
        throwIfPasswordProtected(file);
        // The office program writes the first sheet alone to a delimited file.
        const bool delimited = extension == QLatin1String("csv") || extension == QLatin1String("tsv");
        const QStringList sheetNames = delimited ? WorkbookSheetNames::of(file.path(), context.stopToken) : QStringList();
        if (sheetNames.size() > 1 && context.options.allSheets.value_or(false)) {
            const QList<Sheet> sheets = loadSheets(file, planner, context.stopToken);
            reportProgress(0.6, progress);
            if (sheets.size() > 1)
                return deliverSheetFolder(sheets, extension, baseName, planner, context.stopToken);
            return deliverFirstSheet(sheets, extension, baseName, planner, context.stopToken);
        }
        const QUrl work = planner.workURL(extension, freshName());
        OfficeConverter::convertOfficeDocument(file.url, work, extension, FileCategory::spreadsheet, context.stopToken);
        if (sheetNames.size() > 1 && planner.notes())
            planner.notes()->addMessage(firstSheetOnlyNote(file.name, sheetNames.size(), sheetNames.first(), extension));
        return planner.deliver(work, baseName, extension);
    }
    const QList<Sheet> sheets = loadSheets(file, planner, context.stopToken);
    reportProgress(0.6, progress);
    if (extension == QLatin1String("xlsx")) {
        noteFormulasWithoutValue(sheets, planner);
        const QUrl work = planner.workURL(extension, freshName());
        writeXLSX(sheets, work.toLocalFile(), context.stopToken);
        return planner.deliver(work, baseName, extension);
    }
    if (!context.options.allSheets.value_or(false) || sheets.size() < 2) {
        if (sheets.size() > 1 && planner.notes())
            planner.notes()->addMessage(firstSheetOnlyNote(file.name, sheets.size(), sheets.first().name, extension));
        return deliverFirstSheet(sheets, extension, baseName, planner, context.stopToken);
    }
    return deliverSheetFolder(sheets, extension, baseName, planner, context.stopToken);
}

QUrl splitSheets(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                 Progress& progress)
{
    const QList<Sheet> sheets = loadSheets(file, planner, context.stopToken);
    reportProgress(0.6, progress);
    const QString baseName = splitFileName(file.name).baseName;
    const QString csv = QStringLiteral("csv");
    if (sheets.size() < 2)
        return deliverFirstSheet(sheets, csv, baseName, planner, context.stopToken);
    return deliverSheetFolder(sheets, csv, baseName, planner, context.stopToken);
}

QList<QUrl> mergeCSV(const OperationContext& context, OutputPlanner& planner, Progress& progress)
{
    QList<QStringList> merged;
    std::optional<QStringList> header;
    qint64 cells = 0;
    for (qsizetype i = 0; i < context.files.size(); ++i) {
        throwIfCancelled(context.stopToken);
        QList<QStringList> rows = readDelimitedTextNoting(context.files[i], planner);
        if (rows.isEmpty())
            continue;
        if (!header)
            header = rows.first();
        else if (rows.first() == *header)
            rows.removeFirst();
        for (const QStringList& row : rows)
            cells += row.size();
        if (cells > SheetLimits::maximumCells)
            throw EngineError(SheetLimits::tooLargeMessage);
        merged += rows;
        reportProgress(0.8 * double(i + 1) / double(context.files.size()), progress);
    }
    const bool tsv = !context.files.isEmpty() && formatID(context.files.first()) == QLatin1String("tsv");
    const QString extension = tsv ? QStringLiteral("tsv") : QStringLiteral("csv");
    const QUrl work = planner.workURL(extension, freshName());
    writeDelimitedFile(merged, delimiterForExtension(extension), work.toLocalFile(), context.stopToken);
    const QString baseName =
        planner.outputBaseName(context.settings.suffixForOperation(QStringLiteral("merge")));
    return {planner.deliver(work, baseName, extension)};
}

OperationDescriptor spreadsheetTool(const char* id, const char* group, const char* title,
                                    const char* symbol, const char* verb)
{
    OperationDescriptor d;
    d.id = QString::fromLatin1(id);
    d.wheel = WheelKind::tools;
    d.group = QString::fromLatin1(group);
    d.title = QString::fromLatin1(title);
    d.symbol = QString::fromLatin1(symbol);
    d.categories = {FileCategory::spreadsheet};
    d.behavior = OperationBehavior::run();
    d.engine = EngineID::of(EngineID::Kind::ooxml);
    d.lane = JobLane::cpu;
    d.verb = QString::fromLatin1(verb);
    return d;
}

} // namespace

QString missingResultsNote(qint64 cells)
{
    if (cells == 1)
        return QStringLiteral("1 cell holds a formula saved without its result: it was left empty");
    return QStringLiteral("%1 cells hold formulas saved without their results: they were left empty").arg(cells);
}

QStringList sheetFileNames(const QList<Sheet>& sheets)
{
    QStringList names;
    QSet<QString> taken;
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        const QString base = sanitizedSheetName(sheets[i].name, i);
        QString name = base;
        for (int k = 2; taken.contains(name.toCaseFolded()); ++k)
            name = base + QLatin1Char(' ') + QString::number(k);
        taken.insert(name.toCaseFolded());
        names.append(name);
    }
    return names;
}

QList<Sheet> loadSheets(const FileInfo& file, OutputPlanner& planner, std::stop_token stop)
{
    const QString id = formatID(file);
    if (id == QLatin1String("csv") || id == QLatin1String("tsv"))
        return {Sheet{file.baseName, readDelimitedTextNoting(file, planner)}};
    if (id == QLatin1String("xlsx")) {
        QList<Sheet> sheets = readXLSX(file.path(), stop);
        // Formulas saved without their results are computed as a spreadsheet program does,
        // where one is installed: LibreOffice writes the workbook again with every result.
        if (formulasWithoutValue(sheets) == 0 || !Capabilities::shared().libreOfficeURL())
            return sheets;
        try {
            const QUrl work = planner.workURL(QStringLiteral("xlsx"), freshName());
            OfficeConverter::convertWithLibreOffice(file.url, work, QStringLiteral("xlsx"), stop);
            QList<Sheet> computed = readXLSX(work.toLocalFile(), stop);
            if (computed.size() == sheets.size())
                return computed;
        } catch (const EngineError&) {
            // The cells stay empty and the note says how many.
        }
        return sheets;
    }
    // Other workbooks are read from the XLSX an office program makes of them.
    throwIfPasswordProtected(file);
    const QUrl work = planner.workURL(QStringLiteral("xlsx"), freshName());
    OfficeConverter::convertOfficeDocument(file.url, work, QStringLiteral("xlsx"), FileCategory::spreadsheet, stop);
    return readXLSX(work.toLocalFile(), stop);
}

OperationDescriptor makeSpreadsheetConversion(const QString& extension)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::spreadsheet};
    recipe.target = extension;
    recipe.title = extension.toUpper();
    const bool native = nativeFormats.contains(extension);
    if (native)
        recipe.engine = EngineID::of(EngineID::Kind::ooxml);
    else if (extension == QLatin1String("ods"))
        recipe.engine = EngineID::of(EngineID::Kind::libreOffice);
    else if (extension == QLatin1String("numbers"))
        recipe.engine = EngineID::iwork(IWorkApp::numbers);
    else
        recipe.engine = EngineID::office(IWorkApp::numbers);
    recipe.lane = native ? JobLane::cpu : JobLane::external;
    if (extension == QLatin1String("csv"))
        recipe.optionFields = {OptionField::allSheets};
    recipe.extraTest = [extension](const FileInfo& file) {
        if (nativeFormats.contains(extension) && nativeFormats.contains(formatID(file)))
            return true;
        return OfficeConverter::canConvertOfficeDocument(extension, FileCategory::spreadsheet, formatID(file));
    };
    recipe.run = singleOutputAdapter(
        [extension](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return convertSpreadsheet(context.files.first(), extension, context, planner, progress);
        });
    return makeConversionDescriptor(recipe);
}

const QList<OperationDescriptor>& spreadsheetDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        QList<OperationDescriptor> all;
        for (const char* extension : {"xlsx", "csv", "tsv", "pdf", "ods", "numbers"})
            all.append(makeSpreadsheetConversion(QString::fromLatin1(extension)));

        OperationDescriptor split = spreadsheetTool("tool.spreadsheet.splitSheets", "splitSheets",
                                                    "Split Sheets", "tablecells", "Splitting sheets");
        split.accepts = [](const FileInfo& file) {
            const QString id = formatID(file);
            if (id == QLatin1String("xlsx"))
                return true;
            // A delimited file is one sheet already.
            return id != QLatin1String("csv") && id != QLatin1String("tsv")
                && OfficeConverter::canConvertOfficeDocument(QStringLiteral("xlsx"), FileCategory::spreadsheet, file.ext);
        };
        split.make = blockFactory(singleOutputAdapter(
            [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
                return splitSheets(context.files.first(), context, planner, progress);
            }));
        all.append(split);

        OperationDescriptor merge = spreadsheetTool("tool.spreadsheet.mergeCSV", "mergeCSV",
                                                    "Merge CSVs", "rectangle.stack.badge.plus", "Merging");
        merge.accepts = [](const FileInfo& file) {
            const QString id = formatID(file);
            return id == QLatin1String("csv") || id == QLatin1String("tsv");
        };
        merge.multiFile = MultiFileMode::combine;
        merge.minimumFiles = 2;
        merge.optionFields = {OptionField::mergeOrder};
        merge.make = blockFactory([](const OperationContext& context, const QList<QUrl>&,
                                     OutputPlanner& planner, Progress& progress) {
            return mergeCSV(context, planner, progress);
        });
        all.append(merge);
        return all;
    }();
    return list;
}

} // namespace qv
