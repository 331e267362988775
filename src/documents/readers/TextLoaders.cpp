#include "documents/readers/TextLoaders.h"

#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

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

TextLoaders::DecodedText decodeWindows1252(const QByteArray& bytes)
{
    TextLoaders::DecodedText decoded;
    QString& text = decoded.text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto b = uchar(byte);
        if (b == 0 || (b >= 0x80 && b < 0xA0 && !cp1252High[b - 0x80])) {
            text += QChar::ReplacementCharacter;
            ++decoded.replaced;
        } else if (b >= 0x80 && b < 0xA0) {
            text += QChar(cp1252High[b - 0x80]);
        } else {
            text += QChar(b);
        }
    }
    return decoded;
}

// UTF-8 with every NUL and every maximal invalid sequence (as the Unicode standard counts them)
// made U+FFFD; also counts the valid sequences of more than one byte, the evidence that a text
// is UTF-8 at all.
struct Utf8Reading {
    TextLoaders::DecodedText decoded;
    qint64 multiByte = 0;
};

Utf8Reading decodeUtf8Replacing(const QByteArray& bytes)
{
    Utf8Reading reading;
    QString& text = reading.decoded.text;
    text.reserve(bytes.size());
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    const auto bad = [&] {
        text += QChar::ReplacementCharacter;
        ++reading.decoded.replaced;
    };
    qsizetype i = 0;
    while (i < size) {
        const uchar b = data[i];
        if (b == 0) {
            bad();
            ++i;
            continue;
        }
        if (b < 0x80) {
            // A run of ASCII goes in at once.
            qsizetype end = i + 1;
            while (end < size && data[end] < 0x80 && data[end] != 0)
                ++end;
            text += QLatin1StringView(bytes.constData() + i, end - i);
            i = end;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        uchar low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            code = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            code = b & 0x0F;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED)
                high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            code = b & 0x07;
            if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
        } else {
            bad();
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        bool complete = true;
        for (int k = 1; k < length; ++k, ++j) {
            const uchar c = j < size ? data[j] : 0;
            const uchar lo = k == 1 ? low : 0x80;
            const uchar hi = k == 1 ? high : 0xBF;
            if (j >= size || c < lo || c > hi) {
                complete = false;
                break;
            }
            code = (code << 6) | (c & 0x3F);
        }
        if (!complete) {
            bad();
            i = j;
            continue;
        }
        if (QChar::requiresSurrogates(code)) {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        } else {
            text += QChar(char16_t(code));
        }
        ++reading.multiByte;
        i = j;
    }
    return reading;
}

// More replaced than this is not a text with a stray byte but something else.
bool tooManyReplaced(qint64 replaced, qsizetype size)
{
    return replaced > 8 && replaced * 100 > size;
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

std::optional<TextLoaders::DecodedText> TextLoaders::decodeTextReplacing(const QByteArray& bytes)
{
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*bom, QStringDecoder::Flag::Stateless);
        DecodedText decoded{decoder.decode(bytes), 0};
        if (decoded.text.startsWith(QChar(0xFEFF)))
            decoded.text.remove(0, 1);
        if (decoder.hasError()) {
            for (const QChar c : decoded.text)
                decoded.replaced += c == QChar::ReplacementCharacter ? 1 : 0;
        }
        decoded.replaced += decoded.text.count(QChar(0));
        decoded.text.replace(QChar(0), QChar::ReplacementCharacter);
        if (tooManyReplaced(decoded.replaced, bytes.size()))
            return std::nullopt;
        return decoded;
    }
    // UTF-8 unless its few stray bytes are outweighed: a Windows-1252 text holds no valid
    // multi-byte sequence, or only by chance.
    Utf8Reading utf8 = decodeUtf8Replacing(bytes);
    DecodedText decoded = utf8.decoded.replaced == 0 || utf8.multiByte >= utf8.decoded.replaced
        ? std::move(utf8.decoded)
        : decodeWindows1252(bytes);
    if (tooManyReplaced(decoded.replaced, bytes.size()))
        return std::nullopt;
    return decoded;
}

QString TextLoaders::replacementNote(const QString& fileName, qint64 replaced)
{
    if (replaced <= 0)
        return QString();
    return QStringLiteral("%3: %1 unreadable character%2 replaced with \uFFFD")
        .arg(QLocale::system().toString(replaced), replaced == 1 ? QString() : QStringLiteral("s"), fileName);
}

bool TextLoaders::looksLikeText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray head = file.read(4096);
    if (head.isEmpty())
        return file.error() == QFileDevice::NoError;
    // A sequence cut by the end of the sample is not damage.
    if (!file.atEnd()) {
        qsizetype cut = head.size();
        for (int back = 1; back <= 3 && cut - back >= 0; ++back) {
            const auto b = uchar(head[cut - back]);
            if (b >= 0xC0) {
                head.truncate(cut - back);
                break;
            }
            if (b < 0x80)
                break;
        }
    }
    const bool marked = QStringConverter::encodingForData(head).has_value();
    if (!marked && head.contains('\0'))
        return false;
    const std::optional<DecodedText> decoded = decodeTextReplacing(head);
    if (!decoded)
        return false;
    // Control characters other than the layout ones are as rare in text as stray bytes.
    qint64 odd = decoded->replaced;
    for (const QChar c : decoded->text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f' && u != '\v' && u != 0x1B) || u == 0x7F)
            ++odd;
    }
    return odd <= std::max<qint64>(1, decoded->text.size() / 100);
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
    DecodedText decoded = decodeWindows1252(bytes);
    if (decoded.replaced > 0)
        return std::nullopt;
    return decoded.text;
}

TextLoaders::DecodedText TextLoaders::readTextWithDetectedEncoding(const QUrl& file)
{
    return readTextWithDetectedEncoding(file, maximumFileBytes, QStringLiteral("This document is too large"));
}

TextLoaders::DecodedText TextLoaders::readTextWithDetectedEncoding(const QUrl& file, qint64 maximumBytes,
                                                                  const QString& tooLargeMessage)
{
    std::optional<DecodedText> text = decodeTextReplacing(readFileBytes(file, maximumBytes, tooLargeMessage));
    if (!text)
        throw EngineError(QStringLiteral("This text file uses an unknown encoding"));
    return std::move(*text);
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
