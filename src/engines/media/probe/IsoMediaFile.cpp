#include "engines/media/probe/IsoMediaFile.h"

#include <QFile>
#include <QStringList>

#include <array>

namespace qv {

namespace {

struct Box {
    QByteArray type;
    qint64 start = 0;  // of the header
    qint64 body = 0;   // of the contents
    qint64 end = 0;
};

quint64 bigEndian(const uchar* bytes, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// The box at `at`, which must end by `limit`.
std::optional<Box> readBox(QFile& file, qint64 at, qint64 limit)
{
    std::array<uchar, 16> header{};
    if (limit - at < 8 || !file.seek(at) || file.read(reinterpret_cast<char*>(header.data()), 8) != 8)
        return std::nullopt;
    Box box;
    box.start = at;
    box.type = QByteArray(reinterpret_cast<const char*>(header.data()) + 4, 4);
    quint64 size = bigEndian(header.data(), 4);
    box.body = at + 8;
    if (size == 1) {
        if (limit - at < 16 || file.read(reinterpret_cast<char*>(header.data()) + 8, 8) != 8)
            return std::nullopt;
        size = bigEndian(header.data() + 8, 8);
        box.body = at + 16;
    } else if (size == 0) {
        size = quint64(limit - at);
    }
    if (size < quint64(box.body - at) || size > quint64(limit - at))
        return std::nullopt;
    box.end = at + qint64(size);
    return box;
}

// The first box of a type among those from `at` to `end`.
std::optional<Box> childBox(QFile& file, qint64 at, qint64 end, const char* type)
{
    for (int count = 0; at < end && count < 1000; ++count) {
        const std::optional<Box> box = readBox(file, at, end);
        if (!box)
            return std::nullopt;
        if (box->type == type)
            return box;
        at = box->end;
    }
    return std::nullopt;
}

// The handler type of a track's media ("soun", "vide", "text"...).
QByteArray handlerOf(QFile& file, const Box& track)
{
    const std::optional<Box> media = childBox(file, track.body, track.end, "mdia");
    const std::optional<Box> handler = media ? childBox(file, media->body, media->end, "hdlr") : std::nullopt;
    // Version and flags, a field kept empty, then the type.
    if (!handler || handler->end - handler->body < 12 || !file.seek(handler->body + 8))
        return {};
    return file.read(4);
}

} // namespace

bool IsoMediaFile::handles(const QString& extension)
{
    static const QStringList known{QStringLiteral("mp4"), QStringLiteral("m4v"), QStringLiteral("m4a"),
                                   QStringLiteral("mov"), QStringLiteral("3gp")};
    return known.contains(extension);
}

std::optional<double> IsoMediaFile::duration(const QString& path, bool soundRequired)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    std::optional<Box> movie;
    bool media = false;
    int boxes = 0;
    qint64 at = 0;
    // The top-level boxes tile the whole file: a file cut short ends inside one.
    while (at < size) {
        const std::optional<Box> box = readBox(file, at, size);
        if (!box || ++boxes > 100000)
            return std::nullopt;
        if (box->type == "moov") {
            if (movie)
                return std::nullopt;
            movie = box;
        }
        media = media || box->type == "mdat";
        at = box->end;
    }
    if (!movie || !media)
        return std::nullopt;
    std::optional<double> seconds;
    int tracks = 0;
    for (qint64 inner = movie->body; inner < movie->end;) {
        const std::optional<Box> box = readBox(file, inner, movie->end);
        if (!box)
            return std::nullopt;
        if (box->type == "trak") {
            if (!soundRequired || handlerOf(file, *box) == "soun")
                ++tracks;
        } else if (box->type == "mvhd") {
            std::array<uchar, 32> header{};
            const qint64 length = std::min<qint64>(box->end - box->body, qint64(header.size()));
            if (!file.seek(box->body) || file.read(reinterpret_cast<char*>(header.data()), length) != length || length < 20)
                return std::nullopt;
            const bool wide = header[0] == 1;
            if (wide && length < 32)
                return std::nullopt;
            const quint64 timescale = bigEndian(header.data() + (wide ? 20 : 12), 4);
            const quint64 units = wide ? bigEndian(header.data() + 24, 8) : bigEndian(header.data() + 16, 4);
            // All ones: a length nobody knew.
            if (timescale == 0 || units == 0 || units == (wide ? ~quint64(0) : 0xffffffffULL))
                return std::nullopt;
            seconds = double(units) / double(timescale);
        }
        inner = box->end;
    }
    if (tracks == 0)
        return std::nullopt;
    return seconds;
}

} // namespace qv
