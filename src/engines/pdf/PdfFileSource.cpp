#include "engines/pdf/PdfFileSource.h"

#include <qpdf/QPDFExc.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

// About what qpdf reads around one object, so that one read serves a run of small ones.
constexpr size_t blockBytes = 64 * 1024;
// The blocks kept: the trailer's, the page's, its resources' and a stream's, with room to spare.
constexpr size_t keptBlocks = 8;

} // namespace

PdfFileSource::PdfFileSource(const std::string& path)
    : m_name(path), m_blocks(keptBlocks)
{
    m_file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_file < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
}

PdfFileSource::~PdfFileSource()
{
    if (m_file >= 0)
        ::close(m_file);
}

void PdfFileSource::seek(qpdf_offset_t offset, int whence)
{
    qpdf_offset_t base = 0;
    switch (whence) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = m_position;
        break;
    case SEEK_END: {
        struct stat status {};
        if (::fstat(m_file, &status) != 0)
            throw std::runtime_error("seek in " + m_name + ": " + std::strerror(errno));
        base = status.st_size;
        break;
    }
    default:
        throw std::logic_error("PdfFileSource::seek: invalid whence");
    }
    if (offset > 0 ? base > std::numeric_limits<qpdf_offset_t>::max() - offset : base + offset < 0)
        throw std::runtime_error("seek in " + m_name + " to offset " + std::to_string(offset) + " outside the file");
    m_position = base + offset;
}

void PdfFileSource::unreadCh(char)
{
    // qpdf gives back only the character it has just read.
    if (m_position > 0)
        --m_position;
}

size_t PdfFileSource::readAt(qpdf_offset_t offset, char* buffer, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t count = ::pread(m_file, buffer + done, length - done, off_t(offset + qpdf_offset_t(done)));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw QPDFExc(qpdf_e_system, m_name, "", offset, std::string("read: ") + std::strerror(errno));
        }
        if (count == 0)
            break;
        done += size_t(count);
    }
    return done;
}

const PdfFileSource::Block* PdfFileSource::blockAt(qpdf_offset_t offset)
{
    if (m_end >= 0 && offset >= m_end)
        return nullptr;
    const qpdf_offset_t start = offset - offset % qpdf_offset_t(blockBytes);
    Block* oldest = &m_blocks.front();
    for (Block& block : m_blocks) {
        if (block.start == start) {
            block.used = ++m_uses;
            return offset < start + qpdf_offset_t(block.length) ? &block : nullptr;
        }
        if (block.used < oldest->used)
            oldest = &block;
    }
    oldest->bytes.resize(blockBytes);
    oldest->start = -1; // until it is read whole
    oldest->length = readAt(start, oldest->bytes.data(), blockBytes);
    oldest->start = start;
    oldest->used = ++m_uses;
    if (oldest->length < blockBytes)
        m_end = start + qpdf_offset_t(oldest->length);
    return offset < start + qpdf_offset_t(oldest->length) ? oldest : nullptr;
}

size_t PdfFileSource::read(char* buffer, size_t length)
{
    last_offset = m_position;
    size_t done = 0;
    while (done < length) {
        const qpdf_offset_t at = m_position;
        if (length - done >= blockBytes) {
            // A stream's data in one go, past the blocks.
            const size_t count = readAt(at, buffer + done, length - done);
            done += count;
            m_position += qpdf_offset_t(count);
            break;
        }
        const Block* block = blockAt(at);
        if (!block)
            break;
        const size_t from = size_t(at - block->start);
        const size_t count = std::min(length - done, block->length - from);
        std::memcpy(buffer + done, block->bytes.data() + from, count);
        done += count;
        m_position += qpdf_offset_t(count);
    }
    return done;
}

qpdf_offset_t PdfFileSource::findAndSkipNextEOL()
{
    // As qpdf's own file source does: the offset of the next end of line, the position after
    // every \r and \n that follow it.
    char chunk[10240];
    for (;;) {
        const qpdf_offset_t start = tell();
        const size_t length = read(chunk, sizeof chunk);
        if (length == 0)
            return tell();
        const char* cr = static_cast<const char*>(std::memchr(chunk, '\r', length));
        const char* lf = static_cast<const char*>(std::memchr(chunk, '\n', length));
        const char* end = (cr && lf) ? std::min(cr, lf) : (cr ? cr : lf);
        if (!end)
            continue;
        const qpdf_offset_t result = start + (end - chunk);
        seek(result + 1, SEEK_SET);
        char c = 0;
        while (read(&c, 1) == 1) {
            if (c != '\r' && c != '\n') {
                unreadCh(c);
                break;
            }
        }
        return result;
    }
}

} // namespace qv
