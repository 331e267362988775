#include "support/FlacFixtures.h"

#include <QCryptographicHash>
#include <QList>

#include <cmath>
#include <numbers>

namespace qv::test {

namespace {

constexpr int sampleRate = 8000;

// FLAC's CRC-8 (x^8 + x^2 + x + 1) and CRC-16 (x^16 + x^15 + x^2 + 1), most significant bit first.
template <typename Word>
Word crc(const QByteArray& bytes, Word polynomial)
{
    constexpr int width = sizeof(Word) * 8;
    Word value = 0;
    for (const char byte : bytes) {
        value ^= Word(Word(uchar(byte)) << (width - 8));
        for (int bit = 0; bit < 8; ++bit)
            value = (value & Word(Word(1) << (width - 1))) ? Word(Word(value << 1) ^ polynomial) : Word(value << 1);
    }
    return value;
}

class BitWriter {
public:
    void put(quint64 value, int bits)
    {
        for (int bit = bits - 1; bit >= 0; --bit) {
            m_byte = uchar(m_byte << 1 | ((value >> bit) & 1));
            if (++m_filled == 8) {
                m_bytes.append(char(m_byte));
                m_byte = 0;
                m_filled = 0;
            }
        }
    }
    QByteArray bytes()
    {
        if (m_filled)
            put(0, 8 - m_filled);
        return m_bytes;
    }

private:
    QByteArray m_bytes;
    uchar m_byte = 0;
    int m_filled = 0;
};

int sampleSizeCode(int bits)
{
    switch (bits) {
    case 8: return 1;
    case 12: return 2;
    case 16: return 4;
    case 20: return 5;
    default: return 6;
    }
}

} // namespace

QByteArray verbatimFlac(int bits, int frames, int blockSize, int channels)
{
    QCryptographicHash md5(QCryptographicHash::Md5);
    const int bytesPerSample = (bits + 7) / 8;
    const double amplitude = double((1 << (bits - 1)) - 1) * 0.6;
    QByteArray audio;
    for (int frame = 0; frame < frames; ++frame) {
        QByteArray header;
        header.append(char(0xFF)).append(char(0xF8));
        header.append(char(0x70)); // the block size stated after the header, the rate STREAMINFO's
        header.append(char((channels - 1) << 4 | sampleSizeCode(bits) << 1)); // channels apart
        header.append(char(frame));
        header.append(char((blockSize - 1) >> 8)).append(char((blockSize - 1) & 0xFF));
        header.append(char(crc<quint8>(header, 0x07)));
        QList<qint32> samples;
        for (int i = 0; i < blockSize; ++i) {
            const int n = frame * blockSize + i;
            samples.append(qint32(std::lround(amplitude * std::sin(2 * std::numbers::pi * 440.0 * n / sampleRate))));
        }
        BitWriter body;
        for (int channel = 0; channel < channels; ++channel) {
            body.put(0x02, 8); // a verbatim subframe
            for (const qint32 sample : samples)
                body.put(quint32(sample) & ((quint64(1) << bits) - 1), bits);
        }
        for (const qint32 sample : samples) {
            for (int channel = 0; channel < channels; ++channel) {
                for (int byte = 0; byte < bytesPerSample; ++byte) {
                    const char b = char(quint32(sample) >> (8 * byte));
                    md5.addData(QByteArrayView(&b, 1));
                }
            }
        }
        QByteArray whole = header + body.bytes();
        const quint16 check = crc<quint16>(whole, 0x8005);
        whole.append(char(check >> 8)).append(char(check & 0xFF));
        audio += whole;
    }

    BitWriter info;
    info.put(blockSize, 16);
    info.put(blockSize, 16);
    info.put(0, 24);
    info.put(0, 24);
    info.put(sampleRate, 20);
    info.put(quint64(channels - 1), 3);
    info.put(quint64(bits - 1), 5);
    info.put(quint64(frames) * blockSize, 36);
    QByteArray streamInfo = info.bytes() + md5.result();
    return QByteArray("fLaC") + QByteArray("\x80\x00\x00\x22", 4) + streamInfo + audio;
}

} // namespace qv::test
