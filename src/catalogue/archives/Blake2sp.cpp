#include "catalogue/archives/Blake2sp.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

constexpr std::array<std::uint32_t, 8> iv{0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                          0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};

constexpr std::uint8_t sigma[10][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4}, {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13}, {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11}, {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5}, {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
};

constexpr std::uint32_t rotr(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

std::uint32_t load32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

} // namespace

Blake2sp::Blake2s::Blake2s(std::uint32_t nodeOffset, std::uint32_t nodeDepth, bool lastNode)
    : m_lastNode(lastNode)
{
    // The parameter block of a tree of fan-out 8 and depth 2 with 32-byte digests throughout.
    const std::array<std::uint32_t, 8> parameters{32u | 8u << 16 | 2u << 24, 0u, nodeOffset,
                                                  nodeDepth << 16 | 32u << 24, 0u, 0u, 0u, 0u};
    for (std::size_t i = 0; i < 8; ++i)
        m_h[i] = iv[i] ^ parameters[i];
}

void Blake2sp::Blake2s::compress(const std::uint8_t* data, bool last)
{
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = load32(data + 4 * i);
    std::uint32_t v[16];
    for (int i = 0; i < 8; ++i) {
        v[i] = m_h[i];
        v[i + 8] = iv[i];
    }
    v[12] ^= std::uint32_t(m_count);
    v[13] ^= std::uint32_t(m_count >> 32);
    if (last) {
        v[14] = ~v[14];
        if (m_lastNode)
            v[15] = ~v[15];
    }
    const auto g = [&v, &m](int a, int b, int c, int d, std::uint8_t x, std::uint8_t y) {
        v[a] = v[a] + v[b] + m[x];
        v[d] = rotr(v[d] ^ v[a], 16);
        v[c] = v[c] + v[d];
        v[b] = rotr(v[b] ^ v[c], 12);
        v[a] = v[a] + v[b] + m[y];
        v[d] = rotr(v[d] ^ v[a], 8);
        v[c] = v[c] + v[d];
        v[b] = rotr(v[b] ^ v[c], 7);
    };
    for (const auto& s : sigma) {
        g(0, 4, 8, 12, s[0], s[1]);
        g(1, 5, 9, 13, s[2], s[3]);
        g(2, 6, 10, 14, s[4], s[5]);
        g(3, 7, 11, 15, s[6], s[7]);
        g(0, 5, 10, 15, s[8], s[9]);
        g(1, 6, 11, 12, s[10], s[11]);
        g(2, 7, 8, 13, s[12], s[13]);
        g(3, 4, 9, 14, s[14], s[15]);
    }
    for (int i = 0; i < 8; ++i)
        m_h[i] ^= v[i] ^ v[i + 8];
}

void Blake2sp::Blake2s::add(const std::uint8_t* data, std::size_t size)
{
    // The last block is held back: it is compressed with the final flag.
    while (size > 0) {
        if (m_buffered == m_buffer.size()) {
            m_count += m_buffer.size();
            compress(m_buffer.data(), false);
            m_buffered = 0;
        }
        const std::size_t take = std::min(size, m_buffer.size() - m_buffered);
        std::memcpy(m_buffer.data() + m_buffered, data, take);
        m_buffered += take;
        data += take;
        size -= take;
    }
}

std::array<std::uint8_t, 32> Blake2sp::Blake2s::digest()
{
    m_count += m_buffered;
    std::fill(m_buffer.begin() + std::ptrdiff_t(m_buffered), m_buffer.end(), std::uint8_t(0));
    compress(m_buffer.data(), true);
    std::array<std::uint8_t, 32> out{};
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 4; ++b)
            out[std::size_t(4 * i + b)] = std::uint8_t(m_h[std::size_t(i)] >> (8 * b));
    return out;
}

Blake2sp::Blake2sp()
    : m_leaves{Blake2s(0, 0, false), Blake2s(1, 0, false), Blake2s(2, 0, false), Blake2s(3, 0, false),
               Blake2s(4, 0, false), Blake2s(5, 0, false), Blake2s(6, 0, false), Blake2s(7, 0, true)}
{
}

void Blake2sp::add(QByteArrayView data)
{
    auto at = reinterpret_cast<const std::uint8_t*>(data.data());
    std::size_t size = std::size_t(data.size());
    // Whole rounds of eight blocks go to the leaves; the rest waits, as a later round or the end
    // decides which leaf each byte belongs to.
    while (size > 0) {
        const std::size_t take = std::min(size, m_buffer.size() - m_buffered);
        std::memcpy(m_buffer.data() + m_buffered, at, take);
        m_buffered += take;
        at += take;
        size -= take;
        if (m_buffered == m_buffer.size() && size > 0) {
            for (std::size_t i = 0; i < leaves; ++i)
                m_leaves[i].add(m_buffer.data() + i * block, block);
            m_buffered = 0;
        }
    }
}

QByteArray Blake2sp::digest()
{
    for (std::size_t i = 0; i < leaves; ++i) {
        if (m_buffered > i * block)
            m_leaves[i].add(m_buffer.data() + i * block, std::min(block, m_buffered - i * block));
    }
    Blake2s root(0, 1, true);
    for (Blake2s& leaf : m_leaves) {
        const std::array<std::uint8_t, 32> part = leaf.digest();
        root.add(part.data(), part.size());
    }
    const std::array<std::uint8_t, 32> out = root.digest();
    return QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(out.size()));
}

} // namespace qv
