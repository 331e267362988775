#include "engines/image/foreign/PsdStructure.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace qv {

namespace {

using Fault = std::optional<QString>;

Fault faultOf(const char* what)
{
    return QString::fromLatin1(what);
}

// Big-endian figures read inside a span; a read past its end leaves the reader spent.
class Reader {
public:
    Reader(QByteArrayView bytes, qint64 begin, qint64 end) : m_bytes(bytes), m_at(begin), m_end(end) {}

    bool has(qint64 count) const { return count >= 0 && m_at + count <= m_end; }
    qint64 at() const { return m_at; }
    qint64 left() const { return m_end - m_at; }
    bool skip(qint64 count)
    {
        if (!has(count))
            return false;
        m_at += count;
        return true;
    }
    std::optional<quint64> unsignedOf(int size)
    {
        if (!has(size))
            return std::nullopt;
        quint64 value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | quint8(m_bytes[m_at + i]);
        m_at += size;
        return value;
    }
    std::optional<qint64> signed32()
    {
        const std::optional<quint64> value = unsignedOf(4);
        if (!value)
            return std::nullopt;
        return qint64(qint32(quint32(*value)));
    }
    // The next `count` bytes as a reader of their own.
    std::optional<Reader> part(qint64 count)
    {
        if (!has(count))
            return std::nullopt;
        Reader inner(m_bytes, m_at, m_at + count);
        m_at += count;
        return inner;
    }
    std::optional<QByteArrayView> view(qint64 count)
    {
        if (!has(count))
            return std::nullopt;
        const QByteArrayView part = m_bytes.sliced(m_at, count);
        m_at += count;
        return part;
    }

private:
    QByteArrayView m_bytes;
    qint64 m_at;
    qint64 m_end;
};

// The bytes a run-length row of `count` bytes unpacks to; -1 when it runs past its count.
qint64 unpackedLength(QByteArrayView row)
{
    qint64 made = 0;
    qint64 at = 0;
    const qint64 size = row.size();
    while (at < size) {
        const int header = qint8(row[at++]);
        if (header >= 0) {
            if (at + header + 1 > size)
                return -1;
            made += header + 1;
            at += header + 1;
        } else if (header != -128) {
            if (at + 1 > size)
                return -1;
            made += 1 - header;
            at += 1;
        }
    }
    return made;
}

// One channel's rows of `rowBytes` bytes, in the given compression, from `data` (the whole
// span the file gives them, past the compression field).
Fault rowsFault(QByteArrayView data, int compression, qint64 rows, qint64 rowBytes, int countSize)
{
    const qint64 needed = rows * rowBytes;
    switch (compression) {
    case 0:
        if (data.size() < needed)
            return faultOf("raw pixel data does not fill its picture");
        return std::nullopt;
    case 1: {
        Reader reader(data, 0, data.size());
        std::optional<QByteArrayView> table = reader.view(rows * countSize);
        if (!table)
            return faultOf("run-length row counts run past their data");
        Reader counts(*table, 0, table->size());
        for (qint64 row = 0; row < rows; ++row) {
            const qint64 count = qint64(*counts.unsignedOf(countSize));
            const std::optional<QByteArrayView> coded = reader.view(count);
            if (!coded)
                return faultOf("run-length rows run past their data");
            if (unpackedLength(*coded) != rowBytes)
                return faultOf("a run-length row does not unpack to its width");
        }
        return std::nullopt;
    }
    case 2:
    case 3: {
        if (needed > (qint64(1) << 30))
            return faultOf("compressed pixel data too large to check");
        // qUncompress takes the expected size in front, big-endian.
        QByteArray framed(4, '\0');
        for (int i = 0; i < 4; ++i)
            framed[i] = char(quint32(needed) >> (24 - 8 * i));
        framed.append(data.data(), data.size());
        const QByteArray inflated = qUncompress(framed);
        if (inflated.size() != needed)
            return faultOf("compressed pixel data does not inflate to its picture");
        return std::nullopt;
    }
    default:
        return faultOf("an unknown compression");
    }
}

qint64 rowBytesOf(qint64 width, int depth)
{
    return (width * depth + 7) / 8;
}

struct Header {
    bool big = false;
    int channels = 0;
    qint64 width = 0;
    qint64 height = 0;
    int depth = 0;
    int mode = 0;
};

struct Channel {
    int id = 0;
    qint64 length = 0;
};

struct Layer {
    qint64 width = 0;
    qint64 height = 0;
    qint64 maskWidth = 0;
    qint64 maskHeight = 0;
    std::vector<Channel> channels;
};

Fault headerFault(Reader& reader, Header& header)
{
    const std::optional<QByteArrayView> signature = reader.view(4);
    if (!signature || *signature != QByteArrayView("8BPS"))
        return faultOf("no Photoshop signature");
    const quint64 version = reader.unsignedOf(2).value_or(0);
    if (version != 1 && version != 2)
        return faultOf("an unknown version");
    header.big = version == 2;
    const std::optional<QByteArrayView> reserved = reader.view(6);
    const std::optional<quint64> channels = reader.unsignedOf(2);
    const std::optional<quint64> height = reader.unsignedOf(4);
    const std::optional<quint64> width = reader.unsignedOf(4);
    const std::optional<quint64> depth = reader.unsignedOf(2);
    const std::optional<quint64> mode = reader.unsignedOf(2);
    if (!mode)
        return faultOf("the header is cut short");
    if (std::any_of(reserved->begin(), reserved->end(), [](char c) { return c != 0; }))
        return faultOf("the header's reserved bytes are not zero");
    const quint64 largest = header.big ? 300000 : 30000;
    if (*channels < 1 || *channels > 56 || *width < 1 || *width > largest || *height < 1 || *height > largest)
        return faultOf("the header's size or channel count is out of range");
    header.channels = int(*channels);
    header.width = qint64(*width);
    header.height = qint64(*height);
    header.depth = int(*depth);
    header.mode = int(*mode);
    static constexpr std::array<int, 8> modes{0, 1, 2, 3, 4, 7, 8, 9};
    if (std::find(modes.begin(), modes.end(), header.mode) == modes.end())
        return faultOf("an unknown colour mode");
    if (header.depth != 1 && header.depth != 8 && header.depth != 16 && header.depth != 32)
        return faultOf("an unknown depth");
    if ((header.mode == 0) != (header.depth == 1))
        return faultOf("a depth its colour mode does not take");
    return std::nullopt;
}

Fault colourModeFault(Reader& reader, const Header& header)
{
    const std::optional<quint64> length = reader.unsignedOf(4);
    if (!length || !reader.skip(qint64(*length)))
        return faultOf("the colour mode data runs past the end");
    if (header.mode == 2 && (*length == 0 || *length > 768 || *length % 3 != 0))
        return faultOf("an indexed picture without a colour table");
    return std::nullopt;
}

bool isResourceSignature(QByteArrayView signature)
{
    static const char* const signatures[] = {"8BIM", "MeSa", "AgHg", "PHUT", "DCSR"};
    return std::any_of(std::begin(signatures), std::end(signatures),
                       [&](const char* known) { return signature == QByteArrayView(known); });
}

Fault resourcesFault(Reader& reader)
{
    const std::optional<quint64> length = reader.unsignedOf(4);
    std::optional<Reader> blocks = length ? reader.part(qint64(*length)) : std::nullopt;
    if (!blocks)
        return faultOf("the image resources run past the end");
    while (blocks->left() > 0) {
        const std::optional<QByteArrayView> signature = blocks->view(4);
        if (!signature || !isResourceSignature(*signature))
            return faultOf("an image resource without its signature");
        const std::optional<quint64> id = blocks->unsignedOf(2);
        const std::optional<quint64> nameLength = blocks->unsignedOf(1);
        // The name and its length byte take an even count of bytes.
        if (!id || !nameLength || !blocks->skip(qint64(*nameLength) + (*nameLength % 2 == 0 ? 1 : 0)))
            return faultOf("an image resource's name runs past its section");
        const std::optional<quint64> size = blocks->unsignedOf(4);
        if (!size || !blocks->skip(qint64(*size)))
            return faultOf("an image resource runs past its section");
        if (*size % 2 != 0 && blocks->left() > 0)
            (void)blocks->skip(1);
    }
    return std::nullopt;
}

// The layer count, the layer records and every layer's channel data, as the layer information
// (or a 16- or 32-bit copy of it in a tagged block) holds them.
Fault layerInfoFault(Reader info, const Header& header, int depth)
{
    if (info.left() == 0)
        return std::nullopt;
    const std::optional<quint64> stated = info.unsignedOf(2);
    if (!stated)
        return faultOf("the layer count is cut short");
    // A negative count says the first alpha channel is the merged picture's transparency.
    const int count = std::abs(int(qint16(quint16(*stated))));
    const int lengthSize = header.big ? 8 : 4;
    std::vector<Layer> layers;
    layers.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        Layer layer;
        const std::optional<qint64> top = info.signed32();
        const std::optional<qint64> left = info.signed32();
        const std::optional<qint64> bottom = info.signed32();
        const std::optional<qint64> right = info.signed32();
        const std::optional<quint64> channels = info.unsignedOf(2);
        if (!channels)
            return faultOf("a layer record runs past its section");
        if (*bottom < *top || *right < *left)
            return faultOf("a layer's bounds are inverted");
        layer.width = *right - *left;
        layer.height = *bottom - *top;
        if (layer.width > 300000 || layer.height > 300000 || *channels > 56)
            return faultOf("a layer's size or channel count is out of range");
        for (quint64 c = 0; c < *channels; ++c) {
            const std::optional<quint64> id = info.unsignedOf(2);
            const std::optional<quint64> length = info.unsignedOf(lengthSize);
            if (!length)
                return faultOf("a layer record runs past its section");
            layer.channels.push_back({int(qint16(quint16(*id))), qint64(*length)});
        }
        const std::optional<QByteArrayView> blend = info.view(4);
        if (!blend || *blend != QByteArrayView("8BIM") || !info.skip(8))
            return faultOf("a layer record's blending signature is missing");
        const std::optional<quint64> extraLength = info.unsignedOf(4);
        std::optional<Reader> extra = extraLength ? info.part(qint64(*extraLength)) : std::nullopt;
        if (!extra)
            return faultOf("a layer record's extra data runs past its section");
        const std::optional<quint64> maskLength = extra->unsignedOf(4);
        std::optional<Reader> mask = maskLength ? extra->part(qint64(*maskLength)) : std::nullopt;
        if (!mask)
            return faultOf("a layer mask runs past its record");
        if (*maskLength >= 16) {
            const qint64 maskTop = *mask->signed32();
            const qint64 maskLeft = *mask->signed32();
            const qint64 maskBottom = *mask->signed32();
            const qint64 maskRight = *mask->signed32();
            if (maskBottom < maskTop || maskRight < maskLeft)
                return faultOf("a layer mask's bounds are inverted");
            layer.maskWidth = maskRight - maskLeft;
            layer.maskHeight = maskBottom - maskTop;
            if (layer.maskWidth > 300000 || layer.maskHeight > 300000)
                return faultOf("a layer mask's size is out of range");
        }
        layers.push_back(std::move(layer));
    }
    const int countSize = header.big ? 4 : 2;
    for (const Layer& layer : layers) {
        for (const Channel& channel : layer.channels) {
            std::optional<Reader> data = info.part(channel.length);
            if (!data)
                return faultOf("a layer's channel data runs past its section");
            const std::optional<quint64> compression = data->unsignedOf(2);
            if (!compression)
                return faultOf("a layer's channel has no compression");
            // Masks other than the user's own are not drawn; their decoder skips them.
            if (channel.id < -2)
                continue;
            const qint64 width = channel.id == -2 ? layer.maskWidth : layer.width;
            const qint64 rows = channel.id == -2 ? layer.maskHeight : layer.height;
            if (width == 0 || rows == 0)
                continue;
            if (const Fault fault = rowsFault(*data->view(data->left()), int(*compression), rows,
                                              rowBytesOf(width, depth), countSize))
                return QStringLiteral("a layer's channel: ") + *fault;
        }
    }
    return std::nullopt;
}

bool isWideBlock(QByteArrayView key)
{
    static const char* const wide[] = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn",
                                       "Alph", "FMsk", "lnk2", "FEid", "FXid", "PxSD"};
    return std::any_of(std::begin(wide), std::end(wide), [&](const char* name) { return key == QByteArrayView(name); });
}

Fault layerSectionFault(Reader& reader, const Header& header)
{
    const int lengthSize = header.big ? 8 : 4;
    const std::optional<quint64> length = reader.unsignedOf(lengthSize);
    std::optional<Reader> section = length ? reader.part(qint64(*length)) : std::nullopt;
    if (!section)
        return faultOf("the layer section runs past the end");
    if (section->left() == 0)
        return std::nullopt;
    const std::optional<quint64> infoLength = section->unsignedOf(lengthSize);
    std::optional<Reader> info = infoLength ? section->part(qint64(*infoLength)) : std::nullopt;
    if (!info)
        return faultOf("the layer information runs past its section");
    if (const Fault fault = layerInfoFault(*info, header, header.depth))
        return fault;
    // What follows draws nothing but the layers of deeper files, and writers differ in it
    // (ImageMagick cuts the global mask's length short): it is read while it reads.
    const std::optional<quint64> globalMask = section->unsignedOf(4);
    if (!globalMask || !section->skip(qint64(*globalMask)))
        return std::nullopt;
    // Tagged blocks: 16- and 32-bit files keep their layers in one of them.
    while (section->left() >= 12) {
        const QByteArrayView signature = *section->view(4);
        if (signature != QByteArrayView("8BIM") && signature != QByteArrayView("8B64"))
            break;
        const QByteArrayView key = *section->view(4);
        const bool layered = key == QByteArrayView("Lr16") || key == QByteArrayView("Lr32")
            || key == QByteArrayView("Layr");
        const std::optional<quint64> blockLength = section->unsignedOf(header.big && isWideBlock(key) ? 8 : 4);
        std::optional<Reader> block = blockLength ? section->part(qint64(*blockLength)) : std::nullopt;
        if (!block)
            return layered ? faultOf("the layers run past their section") : std::nullopt;
        const int depth = key == QByteArrayView("Lr16") ? 16 : key == QByteArrayView("Lr32") ? 32 : header.depth;
        if (layered) {
            if (const Fault fault = layerInfoFault(*block, header, depth))
                return fault;
        }
    }
    return std::nullopt;
}

Fault mergedFault(Reader& reader, const Header& header)
{
    const std::optional<quint64> compression = reader.unsignedOf(2);
    if (!compression)
        return faultOf("the merged picture is missing");
    if (const Fault fault = rowsFault(*reader.view(reader.left()), int(*compression),
                                      qint64(header.channels) * header.height,
                                      rowBytesOf(header.width, header.depth), header.big ? 4 : 2))
        return QStringLiteral("the merged picture: ") + *fault;
    return std::nullopt;
}
} // namespace

bool PsdStructure::isPsd(QByteArrayView head)
{
    return head.size() >= 4 && head.first(4) == QByteArrayView("8BPS");
}

std::optional<QString> PsdStructure::fault(QByteArrayView bytes)
{
    Reader reader(bytes, 0, bytes.size());
    Header header;
    if (Fault fault = headerFault(reader, header))
        return fault;
    if (Fault fault = colourModeFault(reader, header))
        return fault;
    if (Fault fault = resourcesFault(reader))
        return fault;
    if (Fault fault = layerSectionFault(reader, header))
        return fault;
    return mergedFault(reader, header);
}

std::optional<QString> PsdStructure::faultOfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be read");
    if (file.size() == 0)
        return faultOf("the file is empty");
    if (const uchar* mapped = file.map(0, file.size()))
        return fault(QByteArrayView(reinterpret_cast<const char*>(mapped), file.size()));
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        return QStringLiteral("the file cannot be read");
    return fault(bytes);
}

} // namespace qv
