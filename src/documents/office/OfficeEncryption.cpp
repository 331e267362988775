#include "documents/office/OfficeEncryption.h"

#include "documents/sheets/CompoundFile.h"

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

} // namespace

bool OfficeEncryption::isEncryptedPackage(const QString& path)
{
    if (!CompoundFile::looksLikeOne(path))
        return false;
    CompoundFile file(path);
    if (!file.open())
        return false;
    const std::optional<QList<CompoundFile::Entry>> entries = file.entries();
    if (!entries)
        return false;
    QSet<QString> names;
    for (const CompoundFile::Entry& entry : *entries)
        names.insert(entry.name);
    // A PowerPoint 97-2003 file locked with a password keeps its properties encrypted in a
    // stream of their own.
    if ((names.contains(QStringLiteral("EncryptionInfo")) && names.contains(QStringLiteral("EncryptedPackage")))
        || (names.contains(QStringLiteral("PowerPoint Document")) && names.contains(QStringLiteral("EncryptedSummary"))))
        return true;
    if (names.contains(QStringLiteral("Workbook")) || names.contains(QStringLiteral("Book")))
        return workbookLocked(file);
    if (names.contains(QStringLiteral("WordDocument")))
        return documentLocked(file);
    return false;
}

} // namespace qv
