#pragma once

#include <QString>
#include <QtGlobal>

namespace qv {

// Keeps an extraction within the free room of its filesystem and within what an archive of its
// size can honestly hold. Entries announce the size their archive declares before they are
// written, and every written block is counted; whichever runs out first stops the extraction
// with EngineError before the disk is full.
class ArchiveSpace {
public:
    // root: the folder being filled; archiveSize: the archive file's own size. Without a root
    // only the size of what is unpacked is watched, as when an archive is read to test it.
    ArchiveSpace(const QString& root, qint64 archiveSize);
    explicit ArchiveSpace(qint64 archiveSize) : ArchiveSpace(QString(), archiveSize) {}

    // The whole archive declares this much (when it can tell without unpacking).
    void expectTotal(qint64 bytes) const;
    // The next entry declares this much; 0 when it holds no data or does not say.
    void beginEntry(qint64 declared);
    // This much more of the current entry is about to be written.
    void consume(qint64 bytes);

    static const QString noRoomMessage;
    static const QString tooLargeMessage;

    // Room left free for everyone else: a fiftieth of the filesystem, at most this much.
    static constexpr qint64 maximumReserve = qint64(256) << 20;
    // What any archive may unpack to, however small it is.
    static constexpr qint64 expansionAllowance = qint64(64) << 20;
    // Deflate cannot pass about 1032:1, so a zip beyond this reuses its data (overlapping
    // entries) and anything else holds little but runs of zeros or nested compression; real
    // files in any format stay far below it.
    static constexpr qint64 maximumExpansion = 2000;

private:
    void check(qint64 total) const;
    qint64 entryTotal() const;
    void reprobe();

    QString m_root;
    qint64 m_limit = 0;
    qint64 m_blockSize = 4096;
    qint64 m_reserve = 0;
    qint64 m_room = 0;          // free room beyond the reserve at the last probe
    qint64 m_usedAtProbe = 0;   // room our entries already took up then
    qint64 m_writtenAtProbe = 0;
    qint64 m_written = 0;       // bytes written, all entries
    qint64 m_before = 0;        // room taken by the entries before the current one
    qint64 m_declared = 0;      // the current entry's declared size
    qint64 m_entryWritten = 0;
};

} // namespace qv
