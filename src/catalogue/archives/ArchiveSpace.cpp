#include "catalogue/archives/ArchiveSpace.h"

#include "model/errors/EngineError.h"
#include "model/Log.h"
#include "platform/files/FreeSpace.h"

#include <algorithm>
#include <limits>

namespace qv {

const QString ArchiveSpace::noRoomMessage =
    QStringLiteral("There isn't enough free space to extract this archive");
const QString ArchiveSpace::tooLargeMessage =
    QStringLiteral("This archive would unpack to a suspiciously large size");

namespace {

// Others write to the disk while we do: look again after this much.
constexpr qint64 probeInterval = qint64(16) << 20;

// Declared sizes are the archive's word: keep sums of them from overflowing.
constexpr qint64 largestSize = qint64(1) << 60;

qint64 roundedUp(qint64 bytes, qint64 unit)
{
    return unit > 0 ? (bytes + unit - 1) / unit * unit : bytes;
}

qint64 saturatingProduct(qint64 a, qint64 b)
{
    qint64 result = 0;
    return __builtin_mul_overflow(a, b, &result) ? std::numeric_limits<qint64>::max() : result;
}

} // namespace

ArchiveSpace::ArchiveSpace(const QString& root, qint64 archiveSize)
    : m_root(root)
    , m_limit(std::max(expansionAllowance, saturatingProduct(std::max<qint64>(archiveSize, 0),
                                                             maximumExpansion)))
{
    if (root.isEmpty()) {
        m_room = std::numeric_limits<qint64>::max();
        return;
    }
    const FreeSpace space = FreeSpace::of(root);
    // Some network and FUSE filesystems tell no sizes at all; their writes are still checked.
    if (space.capacity <= 0) {
        m_root.clear();
        m_room = std::numeric_limits<qint64>::max();
        return;
    }
    m_blockSize = std::max<qint64>(space.blockSize, 512);
    m_reserve = std::min(space.capacity / 50, maximumReserve);
    m_room = space.available - m_reserve;
}

void ArchiveSpace::check(qint64 total) const
{
    if (total > m_limit) {
        qCWarning(enginesLog) << "Refused an archive that unpacks to" << total << "bytes; the limit is"
                              << m_limit;
        throw EngineError(tooLargeMessage, QStringLiteral("Unpacks to at least %1 bytes").arg(total));
    }
    if (total - m_usedAtProbe > m_room) {
        qCWarning(enginesLog) << "Extraction needs" << total - m_usedAtProbe << "more bytes; room for"
                              << m_room << "in" << m_root;
        throw EngineError(noRoomMessage, QStringLiteral("Needs %1 bytes, %2 free")
                                             .arg(total - m_usedAtProbe)
                                             .arg(std::max<qint64>(m_room + m_reserve, 0)));
    }
}

void ArchiveSpace::expectTotal(qint64 bytes) const
{
    check(std::clamp<qint64>(bytes, 0, largestSize));
}

qint64 ArchiveSpace::entryTotal() const
{
    return m_before + roundedUp(std::max(m_declared, m_entryWritten), m_blockSize);
}

void ArchiveSpace::beginEntry(qint64 declared)
{
    m_before = entryTotal();
    m_declared = std::clamp<qint64>(declared, 0, largestSize);
    m_entryWritten = 0;
    check(entryTotal());
}

void ArchiveSpace::consume(qint64 bytes)
{
    m_entryWritten += bytes;
    m_written += bytes;
    if (!m_root.isEmpty() && m_written - m_writtenAtProbe >= probeInterval)
        reprobe();
    check(entryTotal());
}

void ArchiveSpace::reprobe()
{
    const FreeSpace space = FreeSpace::of(m_root);
    m_room = space.available - m_reserve;
    m_usedAtProbe = m_before + roundedUp(m_entryWritten, m_blockSize);
    m_writtenAtProbe = m_written;
}

} // namespace qv
