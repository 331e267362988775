#include "documents/sheets/WorkbookSheetNames.h"

#include "documents/readers/ZipPackageReader.h"
#include "documents/sheets/CompoundFile.h"
#include "model/errors/CancellationError.h"
#include "model/errors/Error.h"

#include <QFile>
#include <QtEndian>

#include <libxml/xmlreader.h>

#include <memory>

namespace qv {

namespace {

// The globals hold the sheet list near their start; the strings and styles after it are what
// makes them large.
constexpr qint64 largestGlobals = qint64(16) << 20;
constexpr const char* tableNamespace = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";

// BOUNDSHEET records up to the end of the globals; BIFF5 spells names in the workbook's code
// page, read as Latin-1, BIFF8 in Latin-1 or UTF-16.
QStringList excelSheetNames(const QString& path)
{
    if (!CompoundFile::looksLikeOne(path))
        return {};
    CompoundFile file(path);
    if (!file.open())
        return {};
    std::optional<QByteArray> stream = file.stream(QStringLiteral("Workbook"), largestGlobals);
    if (!stream)
        stream = file.stream(QStringLiteral("Book"), largestGlobals);
    if (!stream)
        return {};
    const QByteArray& bytes = *stream;
    constexpr quint16 bof = 0x0809, eof = 0x000A, boundSheet = 0x0085;
    if (bytes.size() < 8 || qFromLittleEndian<quint16>(bytes.constData()) != bof)
        return {};
    const bool biff8 = qFromLittleEndian<quint16>(bytes.constData() + 4) == 0x0600;
    QStringList names;
    qsizetype at = 0;
    while (at + 4 <= bytes.size()) {
        const quint16 type = qFromLittleEndian<quint16>(bytes.constData() + at);
        const qsizetype length = qFromLittleEndian<quint16>(bytes.constData() + at + 2);
        const char* body = bytes.constData() + at + 4;
        if (at + 4 + length > bytes.size() || type == eof)
            break;
        // Position, visibility, kind, then the name's length.
        if (type == boundSheet && length >= 8 && body[5] == 0) {
            const int count = quint8(body[6]);
            if (!biff8 && length >= 7 + count) {
                names.append(QString::fromLatin1(body + 7, count));
            } else if (biff8 && (body[7] & 0x01) && length >= 8 + 2 * count) {
                QString name(count, Qt::Uninitialized);
                for (int i = 0; i < count; ++i)
                    name[i] = QChar(qFromLittleEndian<quint16>(body + 8 + 2 * i));
                names.append(name);
            } else if (biff8 && length >= 8 + count) {
                names.append(QString::fromLatin1(body + 8, count));
            }
        }
        at += 4 + length;
    }
    return names;
}

struct ReaderFree {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};

bool isTableElement(xmlTextReader* reader, const char* localName)
{
    const xmlChar* uri = xmlTextReaderConstNamespaceUri(reader);
    const xmlChar* name = xmlTextReaderConstLocalName(reader);
    return uri && name && xmlStrEqual(name, BAD_CAST localName)
        && xmlStrEqual(uri, BAD_CAST tableNamespace);
}

// Feeds content.xml to the reader as it is inflated; a failure ends the document early.
int readEntry(void* context, char* buffer, int size)
{
    try {
        return int(static_cast<ZipPackageReader::Entry*>(context)->read(buffer, size));
    } catch (const Error&) {
        return -1;
    }
}

int closeEntry(void*)
{
    return 0;
}

// The tables directly under the spreadsheet body, in the order they stand.
QStringList tableNames(ZipPackageReader::Entry& entry, std::stop_token stop)
{
    std::unique_ptr<xmlTextReader, ReaderFree> reader(xmlReaderForIO(
        readEntry, closeEntry, &entry, "content.xml", nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!reader)
        return {};
    QStringList names;
    int spreadsheetDepth = -1;
    int status = xmlTextReaderRead(reader.get());
    while (status == 1) {
        if (stop.stop_requested())
            throw CancellationError();
        const bool element = xmlTextReaderNodeType(reader.get()) == XML_READER_TYPE_ELEMENT;
        const int depth = xmlTextReaderDepth(reader.get());
        if (element && spreadsheetDepth < 0) {
            const xmlChar* localName = xmlTextReaderConstLocalName(reader.get());
            if (localName && xmlStrEqual(localName, BAD_CAST "spreadsheet"))
                spreadsheetDepth = depth;
        } else if (spreadsheetDepth >= 0 && depth <= spreadsheetDepth) {
            return names;
        } else if (element && depth == spreadsheetDepth + 1 && isTableElement(reader.get(), "table")) {
            xmlChar* value = xmlTextReaderGetAttributeNs(reader.get(), BAD_CAST "name", BAD_CAST tableNamespace);
            names.append(QString::fromUtf8(reinterpret_cast<const char*>(value)));
            xmlFree(value);
            // Its rows are not wanted.
            status = xmlTextReaderNext(reader.get());
            continue;
        }
        status = xmlTextReaderRead(reader.get());
    }
    // A document cut short names no sheets for sure.
    return status == 0 ? names : QStringList();
}

QStringList openDocumentSheetNames(const QString& path, std::stop_token stop)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(2) != "PK")
        return {};
    file.close();
    QStringList names;
    ZipPackageReader package(path, {QStringLiteral("damaged"), QStringLiteral("too large")}, stop);
    package.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        if (name == QLatin1String("content.xml"))
            names = tableNames(entry, stop);
    });
    return names;
}

} // namespace

QStringList WorkbookSheetNames::of(const QString& path, std::stop_token stop)
{
    try {
        QStringList names = excelSheetNames(path);
        if (names.isEmpty())
            names = openDocumentSheetNames(path, stop);
        return names;
    } catch (const CancellationError&) {
        throw;
    } catch (const Error&) {
        return {};
    }
}

} // namespace qv
