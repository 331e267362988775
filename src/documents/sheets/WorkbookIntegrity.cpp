#include "documents/sheets/WorkbookIntegrity.h"

#include "documents/sheets/CompoundFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace qv {

const QString WorkbookIntegrity::damagedMessage = QStringLiteral("This spreadsheet is damaged");

namespace {

// Larger workbook streams are LibreOffice's to judge; no real workbook comes near.
constexpr qint64 largestStream = qint64(1) << 30;

bool isBeginning(quint16 type)
{
    // BOF of BIFF2, 3, 4, and 5 to 8.
    return type == 0x0009 || type == 0x0209 || type == 0x0409 || type == 0x0809;
}

// Walks the records: each must end within the bytes, and an EOF record must close the globals.
std::optional<QString> recordsDamage(const QByteArray& bytes)
{
    if (bytes.size() < 4 || !isBeginning(qFromLittleEndian<quint16>(bytes.constData())))
        return QStringLiteral("the workbook does not begin with a BOF record");
    qsizetype at = 0;
    bool ended = false;
    while (at + 4 <= bytes.size()) {
        const quint16 type = qFromLittleEndian<quint16>(bytes.constData() + at);
        const quint16 length = qFromLittleEndian<quint16>(bytes.constData() + at + 2);
        if (at + 4 + length > bytes.size())
            return QStringLiteral("a record at %1 runs past the end").arg(at);
        if (type == 0x000A)
            ended = true;
        at += 4 + length;
    }
    if (at != bytes.size() && bytes.mid(at).count('\0') != bytes.size() - at)
        return QStringLiteral("the records end in a partial header");
    if (!ended)
        return QStringLiteral("no EOF record");
    return std::nullopt;
}

} // namespace

std::optional<QString> WorkbookIntegrity::damage(const QString& path)
{
    if (CompoundFile::looksLikeOne(path)) {
        // A container too broken to list its streams is judged a workbook by its name alone.
        static const QStringList workbookSuffixes{"xls", "xlt", "xlw"};
        const bool named = workbookSuffixes.contains(QFileInfo(path).suffix().toLower());
        CompoundFile file(path);
        if (!file.open())
            return named ? std::optional<QString>(QStringLiteral("the compound file's allocation table is cut short"))
                         : std::nullopt;
        const std::optional<QList<CompoundFile::Entry>> entries = file.entries();
        if (!entries)
            return named ? std::optional<QString>(QStringLiteral("the compound file's directory is cut short"))
                         : std::nullopt;
        for (const CompoundFile::Entry& entry : *entries) {
            if (entry.type != 2 || (entry.name != QLatin1String("Workbook") && entry.name != QLatin1String("Book")))
                continue;
            if (entry.size > quint64(largestStream))
                return std::nullopt;
            const std::optional<QByteArray> stream = file.stream(entry.name, largestStream);
            if (!stream)
                return QStringLiteral("the workbook stream is cut short");
            return recordsDamage(*stream);
        }
        // A Word or PowerPoint file, or an encrypted package: not a workbook of this kind.
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray start = file.peek(4);
    if (start.size() < 4 || !isBeginning(qFromLittleEndian<quint16>(start.constData()))
        || qFromLittleEndian<quint16>(start.constData() + 2) > 32)
        return std::nullopt;
    if (file.size() > largestStream)
        return std::nullopt;
    return recordsDamage(file.readAll());
}

} // namespace qv
