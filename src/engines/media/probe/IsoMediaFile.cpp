#include "engines/media/probe/IsoMediaFile.h"

#include <QFile>
#include <QStringList>

#include <array>
#include <initializer_list>

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

// The movie box of the file, opened here for reading.
std::optional<Box> openMovie(QFile& file)
{
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return childBox(file, 0, file.size(), "moov");
}

// The box a path of boxes leads to from a track's, as {"mdia", "minf", "stbl"}.
std::optional<Box> trackBox(QFile& file, const Box& track, std::initializer_list<const char*> path)
{
    std::optional<Box> box = track;
    for (const char* inner : path)
        box = box ? childBox(file, box->body, box->end, inner) : std::nullopt;
    return box;
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

// One MPEG-4 descriptor in an "esds" box: its tag, then its length in up to four bytes of seven
// bits each.
struct Descriptor {
    int tag = 0;
    qsizetype body = 0;
    qsizetype end = 0;
};

std::optional<Descriptor> readDescriptor(const QByteArray& bytes, qsizetype at)
{
    if (at >= bytes.size())
        return std::nullopt;
    Descriptor descriptor;
    descriptor.tag = uchar(bytes[at++]);
    qsizetype length = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= bytes.size())
            return std::nullopt;
        const uchar byte = uchar(bytes[at++]);
        length = (length << 7) | (byte & 0x7F);
        if (!(byte & 0x80))
            break;
    }
    descriptor.body = at;
    descriptor.end = at + length;
    if (descriptor.end > bytes.size())
        return std::nullopt;
    return descriptor;
}

// The decoder information in an "esds" box's descriptors.
std::optional<QByteArray> decoderInformation(const QByteArray& esds)
{
    // The elementary stream: its id, its flags, and what they say follows.
    const std::optional<Descriptor> stream = readDescriptor(esds, 0);
    if (!stream || stream->tag != 0x03 || stream->end - stream->body < 3)
        return std::nullopt;
    const uchar flags = uchar(esds[stream->body + 2]);
    qsizetype at = stream->body + 3;
    if (flags & 0x80)
        at += 2;
    if ((flags & 0x40) && at < stream->end)
        at += 1 + uchar(esds[at]);
    if (flags & 0x20)
        at += 2;
    const std::optional<Descriptor> config = at < stream->end ? readDescriptor(esds, at) : std::nullopt;
    // The object type, stream type, buffer size and bit rates come before the decoder's own.
    if (!config || config->tag != 0x04 || config->end > stream->end || config->end - config->body < 13)
        return std::nullopt;
    const std::optional<Descriptor> specific = readDescriptor(esds, config->body + 13);
    if (!specific || specific->tag != 0x05 || specific->end > config->end)
        return std::nullopt;
    return esds.mid(specific->body, specific->end - specific->body);
}

} // namespace

std::optional<QByteArray> IsoMediaFile::soundDecoderConfig(const QString& path)
{
    QFile file(path);
    const std::optional<Box> movie = openMovie(file);
    if (!movie)
        return std::nullopt;
    qint64 at = movie->body;
    for (int count = 0; count < 1000; ++count) {
        const std::optional<Box> track = childBox(file, at, movie->end, "trak");
        if (!track)
            return std::nullopt;
        at = track->end;
        if (handlerOf(file, *track) != "soun")
            continue;
        const std::optional<Box> box = trackBox(file, *track, {"mdia", "minf", "stbl", "stsd"});
        // The sample descriptions: version and flags, their count, then the first of them.
        const std::optional<Box> entry = box ? readBox(file, box->body + 8, box->end) : std::nullopt;
        if (!entry || entry->type != "mp4a" || entry->end - entry->body < 28 || !file.seek(entry->body + 8))
            return std::nullopt;
        // A sound sample entry's fields take 28 bytes; QuickTime's versions 1 and 2 add more.
        const QByteArray version = file.read(2);
        const qint64 fields = version.size() != 2 ? 28 : version[1] == 1 ? 44 : version[1] == 2 ? 64 : 28;
        const std::optional<Box> esds = childBox(file, entry->body + fields, entry->end, "esds");
        // Version and flags before the descriptors; a few hundred bytes at most.
        if (!esds || esds->end - esds->body < 4 || esds->end - esds->body > 65536 || !file.seek(esds->body + 4))
            return std::nullopt;
        return decoderInformation(file.read(esds->end - esds->body - 4));
    }
    return std::nullopt;
}

std::optional<IsoMediaFile::SampleTables> IsoMediaFile::sampleTables(const QString& path)
{
    QFile file(path);
    const std::optional<Box> movie = openMovie(file);
    if (!movie || childBox(file, movie->body, movie->end, "mvex"))
        return std::nullopt;
    SampleTables tables;
    tables.movieBytes = movie->end - movie->start;
    int tracks = 0;
    for (qint64 at = movie->body; at < movie->end && tracks < 1000;) {
        const std::optional<Box> track = childBox(file, at, movie->end, "trak");
        if (!track)
            break;
        at = track->end;
        const std::optional<Box> table = trackBox(file, *track, {"mdia", "minf", "stbl"});
        if (!table)
            return std::nullopt;
        // Both kinds of sample size box give their count after version, flags and four bytes
        // more (one size for all, or the width of each).
        std::optional<Box> sizes = childBox(file, table->body, table->end, "stsz");
        if (!sizes)
            sizes = childBox(file, table->body, table->end, "stz2");
        std::array<uchar, 4> count{};
        if (!sizes || sizes->end - sizes->body < 12 || !file.seek(sizes->body + 8)
            || file.read(reinterpret_cast<char*>(count.data()), 4) != 4)
            return std::nullopt;
        tables.samples += qint64(bigEndian(count.data(), 4));
        ++tracks;
    }
    if (tracks == 0)
        return std::nullopt;
    return tables;
}

std::optional<QByteArray> IsoMediaFile::videoDecoderConfig(const QString& path)
{
    QFile file(path);
    const std::optional<Box> movie = openMovie(file);
    if (!movie)
        return std::nullopt;
    std::optional<Box> picture;
    qint64 at = movie->body;
    for (int count = 0; count < 1000; ++count) {
        const std::optional<Box> track = childBox(file, at, movie->end, "trak");
        if (!track)
            break;
        at = track->end;
        if (handlerOf(file, *track) != "vide")
            continue;
        if (picture)
            return std::nullopt;
        picture = track;
    }
    if (!picture)
        return std::nullopt;
    const std::optional<Box> box = trackBox(file, *picture, {"mdia", "minf", "stbl", "stsd"});
    // Version and flags, then the count of sample descriptions.
    std::array<uchar, 8> head{};
    if (!box || box->end - box->body < 8 || !file.seek(box->body)
        || file.read(reinterpret_cast<char*>(head.data()), 8) != 8 || bigEndian(head.data() + 4, 4) != 1)
        return std::nullopt;
    // A picture's sample description holds 78 bytes of fields before its boxes.
    constexpr qint64 fields = 78;
    const std::optional<Box> entry = readBox(file, box->body + 8, box->end);
    if (!entry || entry->end - entry->body < fields)
        return std::nullopt;
    std::optional<Box> config = childBox(file, entry->body + fields, entry->end, "avcC");
    if (!config)
        config = childBox(file, entry->body + fields, entry->end, "hvcC");
    if (!config || config->end - config->body > 1 << 20 || !file.seek(config->body))
        return std::nullopt;
    const QByteArray bytes = file.read(config->end - config->body);
    if (bytes.size() != config->end - config->body)
        return std::nullopt;
    return bytes;
}

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
