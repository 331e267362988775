#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace qv {

class CheckedVipsTarget;

// One multi-page TIFF made of single-page TIFFs written one after another: each page's bytes
// are moved to where they land in the file, every offset in its directories moved with them,
// and the previous page's directory is pointed at it. Pages keep their own sizes and colours,
// which libvips' own multi-page writer cannot, and only one page is held in memory at a time.
class TiffPageChain {
public:
    // Creates or empties the file.
    explicit TiffPageChain(const QString& path);
    ~TiffPageChain();
    TiffPageChain(const TiffPageChain&) = delete;
    TiffPageChain& operator=(const TiffPageChain&) = delete;

    // Adds a whole TIFF file's bytes (classic or BigTIFF, either byte order, the same for every
    // page) as the next pages. Throws EngineError for bytes it cannot relocate (a sub-directory,
    // an offset past the end, a classic TIFF beyond 4 GB) and SystemError for a refused write.
    void append(QByteArray page);

    // Closes the file; throws SystemError for any write the system refused, leaving the file
    // for the caller to remove.
    void finish();

    // Moves every offset of a TIFF's bytes by base, for the bytes to lie at base in a larger
    // file; pointer is set to the file-relative position of the last directory's next-directory
    // field, and the return value is the new position of the first directory. Throws EngineError.
    static quint64 relocate(QByteArray& page, quint64 base, quint64* lastNextField);

private:
    std::unique_ptr<CheckedVipsTarget> m_file;
    QString m_path;
    QByteArray m_header;
    quint64 m_size = 0;
    quint64 m_lastNextField = 0;
};

} // namespace qv
