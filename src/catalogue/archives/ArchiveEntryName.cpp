#include "catalogue/archives/ArchiveEntryName.h"

namespace qv {

namespace {

// Code page 437, bytes 0x80 to 0xFF; the lower half is ASCII.
constexpr char16_t cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void appendEscaped(QString& text, QByteArrayView bytes)
{
    for (const char byte : bytes) {
        text += QLatin1Char('%');
        text += QString::number(uchar(byte), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
}

bool reordersText(char32_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// The length of the valid UTF-8 sequence at data[i], or 0.
qsizetype utf8SequenceAt(QByteArrayView data, qsizetype i)
{
    const auto byte = [&](qsizetype k) { return uchar(data[k]); };
    const uchar lead = byte(i);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    char32_t minimum = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, c = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > data.size())
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

bool isValidUtf8(QByteArrayView data)
{
    for (qsizetype i = 0; i < data.size();) {
        const qsizetype length = utf8SequenceAt(data, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

// Writes what must not stand in a name as the escapes of its UTF-8 bytes.
QString escapeUnsafe(const QString& text)
{
    QString safe;
    safe.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const char32_t c = text.at(i).isHighSurrogate() && i + 1 < text.size()
            ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1))
            : char32_t(text.at(i).unicode());
        const qsizetype units = c > 0xFFFF ? 2 : 1;
        if (isControl(c) || reordersText(c))
            appendEscaped(safe, text.mid(i, units).toUtf8());
        else
            safe += text.mid(i, units);
        i += units;
    }
    return safe;
}

} // namespace

QString ArchiveEntryName::fromBytes(QByteArrayView bytes, Legacy legacy)
{
    if (isValidUtf8(bytes))
        return escapeUnsafe(QString::fromUtf8(bytes));
    QString text;
    text.reserve(bytes.size());
    if (legacy == Legacy::cp437) {
        for (const char byte : bytes) {
            const uchar b = uchar(byte);
            text += b < 0x80 ? QChar(b) : QChar(cp437High[b - 0x80]);
        }
        return escapeUnsafe(text);
    }
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = utf8SequenceAt(bytes, i);
        if (length == 0) {
            appendEscaped(text, bytes.sliced(i, 1));
            ++i;
        } else {
            text += QString::fromUtf8(bytes.sliced(i, length));
            i += length;
        }
    }
    return escapeUnsafe(text);
}

} // namespace qv
