#include "engines/image/metadata/MetadataStripper.h"

#include <QList>

#include <array>
#include <cstring>

namespace qv {

namespace {

quint32 be32(const char* p)
{
    const auto* u = reinterpret_cast<const uchar*>(p);
    return quint32(u[0]) << 24 | quint32(u[1]) << 16 | quint32(u[2]) << 8 | u[3];
}

void appendBe32(QByteArray& out, quint32 value)
{
    out.append(char(value >> 24)).append(char(value >> 16)).append(char(value >> 8)).append(char(value));
}

quint32 crc32(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char byte : bytes)
        c = table[(c ^ uchar(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// A big-endian TIFF structure holding the orientation alone.
QByteArray orientationTiff(int orientation)
{
    QByteArray tiff("MM\0*\0\0\0\x08", 8);
    tiff.append("\0\x01", 2);                  // one entry
    tiff.append("\x01\x12\0\x03\0\0\0\x01", 8); // Orientation, SHORT, count 1
    tiff.append(char(0)).append(char(orientation)).append("\0\0", 2);
    tiff.append("\0\0\0\0", 4); // no next directory
    return tiff;
}

bool startsWith(const QByteArray& bytes, qsizetype at, const char* text, qsizetype length)
{
    return at + length <= bytes.size() && std::memcmp(bytes.constData() + at, text, size_t(length)) == 0;
}

} // namespace

std::optional<QByteArray> MetadataStripper::jpeg(const QByteArray& bytes, std::optional<int> orientation)
{
    if (!startsWith(bytes, 0, "\xFF\xD8", 2))
        return std::nullopt;
    QByteArray out("\xFF\xD8", 2);
    bool oriented = false;
    const auto addOrientation = [&] {
        if (oriented || !orientation || *orientation <= 1 || *orientation > 8)
            return;
        oriented = true;
        const QByteArray body = QByteArray("Exif\0\0", 6) + orientationTiff(*orientation);
        const qsizetype length = body.size() + 2;
        out.append("\xFF\xE1", 2).append(char(length >> 8)).append(char(length & 0xFF)).append(body);
    };
    qsizetype at = 2;
    bool scanned = false;
    // The end marker may be the file's last two bytes, as it is in most.
    while (at + 2 <= bytes.size()) {
        if (uchar(bytes[at]) != 0xFF)
            return std::nullopt;
        const uchar marker = uchar(bytes[at + 1]);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9) { // the end: whatever trails it goes
            out.append("\xFF\xD9", 2);
            return scanned ? std::optional<QByteArray>(out) : std::nullopt;
        }
        if (at + 4 > bytes.size())
            return std::nullopt;
        const qsizetype length = (qsizetype(uchar(bytes[at + 2])) << 8) | uchar(bytes[at + 3]);
        if (length < 2 || at + 2 + length > bytes.size())
            return std::nullopt;
        const qsizetype body = at + 4;
        bool keep = true;
        if (marker >= 0xE0 && marker <= 0xEF) {
            keep = (marker == 0xE0 && (startsWith(bytes, body, "JFIF\0", 5) || startsWith(bytes, body, "JFXX\0", 5)))
                || (marker == 0xE2 && startsWith(bytes, body, "ICC_PROFILE\0", 12))
                || (marker == 0xEE && startsWith(bytes, body, "Adobe", 5));
        } else if (marker == 0xFE) { // comment
            keep = false;
        }
        // The orientation goes after JFIF, which must come first, and before the frame.
        if (marker != 0xE0)
            addOrientation();
        if (keep)
            out.append(bytes.constData() + at, 2 + length);
        at += 2 + length;
        if (marker != 0xDA)
            continue;
        // The scan's coded data runs to the next marker that is not a restart or a stuffed byte.
        scanned = true;
        qsizetype end = at;
        while (end + 1 < bytes.size()) {
            if (uchar(bytes[end]) == 0xFF) {
                const uchar next = uchar(bytes[end + 1]);
                if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7) && next != 0xFF)
                    break;
            }
            ++end;
        }
        if (end + 1 >= bytes.size())
            return std::nullopt;
        out.append(bytes.constData() + at, end - at);
        at = end;
    }
    return std::nullopt;
}

std::optional<QByteArray> MetadataStripper::png(const QByteArray& bytes, std::optional<int> orientation)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!bytes.startsWith(signature))
        return std::nullopt;
    // What the picture needs to look as it does, and an animation's frames.
    static const QList<QByteArray> kept{"IHDR", "PLTE", "IDAT", "IEND", "tRNS", "gAMA", "cHRM", "sRGB", "iCCP",
                                        "sBIT", "pHYs", "bKGD", "hIST", "acTL", "fcTL", "fdAT", "cICP"};
    QByteArray out = signature;
    qsizetype at = signature.size();
    while (at + 12 <= bytes.size()) {
        const quint32 length = be32(bytes.constData() + at);
        if (length > quint32(bytes.size() - at - 12))
            return std::nullopt;
        const QByteArray type = bytes.mid(at + 4, 4);
        const qsizetype whole = 12 + qsizetype(length);
        if (type == "IDAT" && orientation && *orientation > 1 && *orientation <= 8
            && !out.contains(QByteArrayView("eXIf"))) {
            const QByteArray chunk = QByteArray("eXIf") + orientationTiff(*orientation);
            appendBe32(out, quint32(chunk.size() - 4));
            out.append(chunk);
            appendBe32(out, crc32(chunk));
        }
        if (kept.contains(type))
            out.append(bytes.constData() + at, whole);
        at += whole;
        if (type == "IEND")
            return out; // whatever trails it goes
    }
    return std::nullopt;
}

} // namespace qv
