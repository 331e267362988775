#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>

namespace qv {

// BLAKE2sp, the hash RAR 5 keeps of each file's data: eight BLAKE2s leaves fed 64-byte blocks in
// turn, and a root over their digests. libarchive's RAR 5 reader does not check it everywhere.
class Blake2sp {
public:
    Blake2sp();

    void add(QByteArrayView data);
    // The 32-byte digest; the object is spent afterwards.
    QByteArray digest();

private:
    class Blake2s {
    public:
        Blake2s(std::uint32_t nodeOffset, std::uint32_t nodeDepth, bool lastNode);
        void add(const std::uint8_t* data, std::size_t size);
        std::array<std::uint8_t, 32> digest();

    private:
        void compress(const std::uint8_t* block, bool last);

        std::array<std::uint32_t, 8> m_h{};
        std::uint64_t m_count = 0;
        std::array<std::uint8_t, 64> m_buffer{};
        std::size_t m_buffered = 0;
        bool m_lastNode;
    };

    static constexpr std::size_t leaves = 8;
    static constexpr std::size_t block = 64;

    std::array<Blake2s, leaves> m_leaves;
    std::array<std::uint8_t, leaves * block> m_buffer{};
    std::size_t m_buffered = 0;
};

} // namespace qv
