#include "documents/TextLoaders.h"

#include "model/EngineError.h"
#include "model/SystemError.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <cmath>

namespace qv {
namespace {

// Windows-1252 0x80...0x9F; 0 marks the five undefined bytes.
constexpr char16_t cp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

std::optional<QString> decodeWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto b = uchar(byte);
        if (b == 0)
            return std::nullopt;
        if (b >= 0x80 && b < 0xA0) {
            if (!cp1252High[b - 0x80])
                return std::nullopt;
            text += QChar(cp1252High[b - 0x80]);
        } else {
            text += QChar(b);
        }
    }
    return text;
}

} // namespace

QByteArray TextLoaders::readFileBytes(const QUrl& url)
{
    return readFileBytes(url, maximumFileBytes, QStringLiteral("This document is too large"));
}

QByteArray TextLoaders::readFileBytes(const QUrl& url, qint64 maximumBytes, const QString& tooLargeMessage)
{
    const QString path = url.toLocalFile();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError::fromErrno(QFile::exists(path) ? EACCES : ENOENT,
                                     QStringLiteral("Cannot open ") + path);
    const auto tooLarge = [&] {
        return EngineError(tooLargeMessage, QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maximumBytes));
    };
    if (file.size() > maximumBytes)
        throw tooLarge();
    // The size is only a hint: a file that grows while it is read is still cut off at the cap.
    QByteArray bytes;
    bytes.reserve(qsizetype(file.size()));
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            throw SystemError::fromErrno(EIO, QStringLiteral("Cannot read ") + path);
        if (n == 0)
            return bytes;
        if (bytes.size() + n > maximumBytes)
            throw tooLarge();
        bytes.append(buffer, n);
    }
}

std::optional<QString> TextLoaders::decodeText(const QByteArray& bytes)
{
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*bom, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(bytes);
        if (!decoder.hasError()) {
            if (text.startsWith(QChar(0xFEFF)))
                text.remove(0, 1);
            return text;
        }
    }
    if (!bytes.contains('\0')) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(bytes);
        if (!utf8.hasError())
            return text;
    }
    return decodeWindows1252(bytes);
}

QString TextLoaders::readTextWithDetectedEncoding(const QUrl& file)
{
    return readTextWithDetectedEncoding(file, maximumFileBytes, QStringLiteral("This document is too large"));
}

QString TextLoaders::readTextWithDetectedEncoding(const QUrl& file, qint64 maximumBytes, const QString& tooLargeMessage)
{
    const std::optional<QString> text = decodeText(readFileBytes(file, maximumBytes, tooLargeMessage));
    if (!text)
        throw EngineError(QStringLiteral("This text file uses an unknown encoding"));
    return *text;
}

QList<DocBlock> TextLoaders::plainTextBlocks(const QString& source)
{
    QString text = source;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    static const QRegularExpression blankLines(QStringLiteral("\\n[ \\t]*\\n\\s*"));
    QList<DocBlock> blocks;
    for (const QString& piece : text.split(blankLines)) {
        QString paragraph = piece;
        while (paragraph.endsWith(QLatin1Char('\n')))
            paragraph.chop(1);
        while (paragraph.startsWith(QLatin1Char('\n')))
            paragraph.remove(0, 1);
        if (!paragraph.trimmed().isEmpty())
            blocks.append(DocBlock::paragraph({DocRun{paragraph}}));
    }
    return blocks;
}

TextLoaders::Statistics TextLoaders::textStatistics(const QString& text)
{
    Statistics stats;
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    for (qsizetype at = words.toNextBoundary(); at >= 0; at = words.toNextBoundary()) {
        if (words.boundaryReasons() & QTextBoundaryFinder::EndOfItem)
            ++stats.words;
    }
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = graphemes.toNextBoundary(); at > 0; at = graphemes.toNextBoundary())
        ++stats.characters;
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            ++stats.nonBlankLines;
    }
    return stats;
}

QString TextLoaders::statisticsLine(qint64 words, qint64 characters)
{
    const QLocale locale = QLocale::system();
    const qint64 minutes = std::max<qint64>(1, std::llround(double(words) / 230.0));
    return locale.toString(words) + QStringLiteral(" words \u00B7 ") + locale.toString(characters)
        + QStringLiteral(" characters \u00B7 ") + QString::number(minutes) + QStringLiteral(" min read");
}

} // namespace qv
