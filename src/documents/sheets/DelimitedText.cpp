#include "documents/sheets/DelimitedText.h"

#include "documents/model/TextInterner.h"
#include "documents/readers/TextLoaders.h"
#include "documents/sheets/Sheet.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

#include <QFile>

#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace qv {

const QString SheetLimits::tooLargeMessage = QStringLiteral("This spreadsheet is too large");

namespace {

// A character followed by a combining mark is another character: it neither quotes nor
// separates.
bool standsAlone(const QString& text, qsizetype i)
{
    return i + 1 >= text.size() || !text[i + 1].isMark();
}

} // namespace

QChar delimiterFor(const QString& text, const QString& fileName)
{
    const QString extension = QFileInfo(fileName).suffix().toLower();
    if (extension == QLatin1String("tsv") || extension == QLatin1String("tab"))
        return QLatin1Char('\t');
    qsizetype begin = 0;
    while (begin < text.size()) {
        qsizetype end = begin;
        while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r'))
            ++end;
        if (end > begin) {
            const QStringView line = QStringView(text).mid(begin, end - begin);
            return line.count(QLatin1Char(';')) > line.count(QLatin1Char(','))
                ? QLatin1Char(';') : QLatin1Char(',');
        }
        begin = end + 1;
    }
    return QLatin1Char(',');
}

QList<QStringList> readDelimitedText(const QString& path, qint64* replaced)
{
    TextLoaders::DecodedText decoded = TextLoaders::readTextWithDetectedEncoding(
        QUrl::fromLocalFile(path), SheetLimits::maximumTextBytes, SheetLimits::tooLargeMessage);
    if (replaced)
        *replaced = decoded.replaced;
    QString text = std::move(decoded.text);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return splitDelimited(text, delimiterFor(text, QFileInfo(path).fileName()),
                          SheetLimits::maximumCells);
}

QList<QStringList> splitDelimited(const QString& text, QChar delimiter, qint64 maximumCells)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool inQuotes = false;
    qint64 cells = 0;
    const QChar quote = QLatin1Char('"');
    TextInterner interner;
    auto endField = [&] {
        interner.intern(field);
        row.append(field);
        field.clear();
        if (maximumCells >= 0 && ++cells > maximumCells)
            throw EngineError(SheetLimits::tooLargeMessage);
    };
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c != quote || !standsAlone(text, i)) {
                field.append(c);
                continue;
            }
            if (i + 1 < size && text[i + 1] == quote && standsAlone(text, i + 1)) {
                field.append(quote);
                ++i;
                continue;
            }
            inQuotes = false; // what follows the closing quote is read unquoted
            continue;
        }
        if (c == quote && field.isEmpty() && standsAlone(text, i)) {
            inQuotes = true;
        } else if (c == delimiter && standsAlone(text, i)) {
            endField();
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < size && text[i + 1] == QLatin1Char('\n'))
                ++i;
            endField();
            rows.append(row);
            row.clear();
        } else {
            field.append(c);
        }
    }
    if (!field.isEmpty() || !row.isEmpty()) {
        endField();
        rows.append(row);
    }
    return rows;
}

namespace {

void appendRow(QString& text, const QStringList& row, QChar delimiter)
{
    const QChar quote = QLatin1Char('"');
    for (qsizetype c = 0; c < row.size(); ++c) {
        if (c > 0)
            text.append(delimiter);
        const QString& field = row[c];
        bool quoted = field.startsWith(QLatin1Char(' ')) || field.endsWith(QLatin1Char(' '));
        for (qsizetype i = 0; !quoted && i < field.size(); ++i) {
            const QChar f = field[i];
            quoted = f == delimiter || f == quote || f == QLatin1Char('\n') || f == QLatin1Char('\r');
        }
        if (!quoted) {
            text.append(field);
            continue;
        }
        QString escaped = field;
        escaped.replace(quote, QLatin1String("\"\""));
        text.append(quote).append(escaped).append(quote);
    }
    text.append(QLatin1String("\r\n"));
}

SystemError writeError(const QFile& file, const QString& path)
{
    if (file.error() == QFileDevice::NoError)
        return SystemError::fromErrno(EIO, QStringLiteral("Cannot write %1").arg(path));
    return SystemError(QStringLiteral("QFileDevice"), static_cast<int>(file.error()),
                       QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

} // namespace

QString delimitedText(const QList<QStringList>& rows, QChar delimiter)
{
    QString text;
    for (const QStringList& row : rows)
        appendRow(text, row, delimiter);
    if (rows.isEmpty())
        text = QStringLiteral("\r\n");
    return text;
}

void writeDelimitedFile(const QList<QStringList>& rows, QChar delimiter, const QString& path,
                        std::stop_token stop)
{
    QFile file(path);
    // Unbuffered, so that a full disk shows at the write that meets it.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        throw writeError(file, path);
    try {
        QString pending;
        auto flushPending = [&] {
            const QByteArray bytes = pending.toUtf8();
            pending.clear();
            qint64 done = 0;
            while (done < bytes.size()) {
                const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
                if (written <= 0)
                    throw writeError(file, path);
                done += written;
            }
        };
        constexpr qsizetype chunk = qsizetype(1) << 20;
        for (const QStringList& row : rows) {
            appendRow(pending, row, delimiter);
            if (pending.size() >= chunk) {
                throwIfCancelled(stop);
                flushPending();
            }
        }
        if (rows.isEmpty())
            pending = QStringLiteral("\r\n");
        flushPending();
        if (!file.flush() || (::fsync(file.handle()) != 0 && errno != EINVAL && errno != ENOTSUP))
            throw writeError(file, path);
        file.close();
        if (file.error() != QFileDevice::NoError)
            throw writeError(file, path);
    } catch (...) {
        file.close();
        QFile::remove(path);
        throw;
    }
}

} // namespace qv
