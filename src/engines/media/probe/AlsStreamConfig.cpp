#include "engines/media/probe/AlsStreamConfig.h"

namespace qv {

namespace {

// Reads bits from the most significant down, as MPEG-4 stores them; past the end every read
// fails.
class BitReader {
public:
    explicit BitReader(const QByteArray& bytes) : m_bytes(bytes) {}

    std::optional<quint32> take(int count)
    {
        if (count > 32 || m_at + count > qint64(m_bytes.size()) * 8)
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < count; ++i, ++m_at)
            value = (value << 1) | ((uchar(m_bytes[m_at / 8]) >> (7 - m_at % 8)) & 1);
        return value;
    }

    qint64 position() const { return m_at; }
    void seek(qint64 at) { m_at = at; }

private:
    const QByteArray& m_bytes;
    qint64 m_at = 0;
};

constexpr quint32 alsObjectType = 36;
constexpr quint32 alsId = 0x414C5300; // "ALS\0"

} // namespace

std::optional<AlsStreamConfig> AlsStreamConfig::read(const QByteArray& audioConfig)
{
    BitReader bits(audioConfig);
    std::optional<quint32> type = bits.take(5);
    if (type == 31u) {
        const std::optional<quint32> extended = bits.take(6);
        type = extended ? std::optional<quint32>(32 + *extended) : std::nullopt;
    }
    if (type != alsObjectType)
        return std::nullopt;
    // The sampling frequency's index, or the frequency itself after an index of 15; the channel
    // configuration; five bits that fill the byte.
    const std::optional<quint32> frequency = bits.take(4);
    if (!frequency || (*frequency == 15 && !bits.take(24)) || !bits.take(4) || !bits.take(5))
        return std::nullopt;
    // Some writers leave the ALS configuration three bytes further on, which FFmpeg accepts too.
    const qint64 start = bits.position();
    if (bits.take(32) != alsId) {
        bits.seek(start + 24);
        if (bits.take(32) != alsId)
            return std::nullopt;
    }
    // The sample rate, the sample count, the channels; the file type and resolution before the
    // floating-point flag.
    if (!bits.take(32) || !bits.take(32) || !bits.take(16) || !bits.take(6))
        return std::nullopt;
    AlsStreamConfig config;
    const std::optional<quint32> floating = bits.take(1);
    // The byte order, frame length, random access, the prediction's and the coding's choices,
    // the CRC's flag, then RLS-LMS.
    if (!floating || !bits.take(1) || !bits.take(16) || !bits.take(8) || !bits.take(16) || !bits.take(8)
        || !bits.take(1))
        return std::nullopt;
    const std::optional<quint32> rlsLms = bits.take(1);
    if (!rlsLms)
        return std::nullopt;
    config.floating = *floating == 1;
    config.rlsLms = *rlsLms == 1;
    return config;
}

} // namespace qv
