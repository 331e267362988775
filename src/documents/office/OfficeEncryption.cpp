#include "documents/office/OfficeEncryption.h"

#include "documents/readers/ZipPackageReader.h"
#include "documents/sheets/CompoundFile.h"
#include "model/errors/EngineError.h"

#include <QFile>
#include <QSet>
#include <QtEndian>


namespace qv {

const QString OfficeEncryption::passwordProtectedMessage = QStringLiteral("This document is password-protected");

namespace {

// An Excel 97-2003 workbook whose globals hold a FILEPASS record (RC4 or XOR): it follows the
// first BOF, before anything the sheets need.
bool workbookLocked(CompoundFile& file)
{
    std::optional<QByteArray> stream = file.stream(QStringLiteral("Workbook"), 4096);
    if (!stream)
        stream = file.stream(QStringLiteral("Book"), 4096);
    if (!stream)
        return false;
    const QByteArray& bytes = *stream;
    qsizetype at = 0;
    for (int records = 0; records < 32 && at + 4 <= bytes.size(); ++records) {
        const quint16 type = qFromLittleEndian<quint16>(bytes.constData() + at);
        const quint16 length = qFromLittleEndian<quint16>(bytes.constData() + at + 2);
        if (type == 0x002F)
            return true;
        if (type == 0x0085) // the first sheet's name: past where the lock would be
            return false;
        at += 4 + length;
    }
    return false;
}

// A Word 97-2003 document flagged encrypted (RC4 or XOR) in its file information block.
bool documentLocked(CompoundFile& file)
{
    const std::optional<QByteArray> stream = file.stream(QStringLiteral("WordDocument"), 64);
    if (!stream || stream->size() < 12 || qFromLittleEndian<quint16>(stream->constData()) != 0xA5EC)
        return false;
    return (qFromLittleEndian<quint16>(stream->constData() + 0x0A) & 0x0100) != 0;
}

// An OpenDocument package whose manifest gives any part's encryption: its content is then
// ciphertext that no reader can take for XML.
bool openDocumentLocked(const QString& path)
{
    // An OpenDocument package starts with its media type, stored: anything else (an OOXML
    // workbook of any size) is not read further.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(30 + 8 + 64);
    file.close();
    if (head.size() < 30 + 8 || !head.startsWith(QByteArrayLiteral("PK\x03\x04"))
        || qFromLittleEndian<quint16>(head.constData() + 26) != 8 || head.mid(30, 8) != "mimetype")
        return false;
    const int extra = qFromLittleEndian<quint16>(head.constData() + 28);
    if (!head.mid(38 + extra).startsWith("application/vnd.oasis.opendocument"))
        return false;
    struct Found {};
    ZipPackageReader reader(path, {QStringLiteral("damaged"), QStringLiteral("too large")}, {});
    try {
        reader.forEachEntry([](const QString& name, ZipPackageReader::Entry& entry) {
            if (name != QLatin1String("META-INF/manifest.xml"))
                return;
            if (entry.readAll(qint64(16) << 20).contains("encryption-data"))
                throw Found();
        });
    } catch (const Found&) {
        return true;
    } catch (const EngineError&) {
    }
    return false;
}

} // namespace

bool OfficeEncryption::isEncryptedPackage(const QString& path)
{
    if (openDocumentLocked(path))
        return true;
    if (!CompoundFile::looksLikeOne(path))
        return false;
    CompoundFile file(path);
    if (!file.open())
        return false;
    const std::optional<QList<CompoundFile::Entry>> entries = file.entries();
    if (!entries)
        return false;
    // Names in a compound file compare without regard to case: some writers store them upper case.
    QSet<QString> names;
    for (const CompoundFile::Entry& entry : *entries)
        names.insert(entry.name.toCaseFolded());
    // A PowerPoint 97-2003 file locked with a password keeps its properties encrypted in a
    // stream of their own.
    if ((names.contains(QStringLiteral("EncryptionInfo").toCaseFolded()) && names.contains(QStringLiteral("EncryptedPackage").toCaseFolded()))
        || (names.contains(QStringLiteral("PowerPoint Document").toCaseFolded()) && names.contains(QStringLiteral("EncryptedSummary").toCaseFolded())))
        return true;
    if (names.contains(QStringLiteral("Workbook").toCaseFolded()) || names.contains(QStringLiteral("Book").toCaseFolded()))
        return workbookLocked(file);
    if (names.contains(QStringLiteral("WordDocument").toCaseFolded()))
        return documentLocked(file);
    return false;
}

} // namespace qv
