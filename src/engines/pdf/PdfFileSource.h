#pragma once

#include <qpdf/InputSource.hh>

#include <string>
#include <vector>

namespace qv {

// A PDF file as qpdf reads it, through positioned reads of a block at a time: qpdf's own file
// source asks the system for every seek, which a document of thousands of objects pays
// thousands of times over, each behind the worker's system-call filter. A few blocks are kept,
// each at a multiple of its size: a parser that steps back a little, reads the trailer over
// and over, or goes between a page and its resources reads each block of the file about once.
class PdfFileSource : public InputSource {
public:
    // Throws std::runtime_error when the file does not open.
    explicit PdfFileSource(const std::string& path);
    ~PdfFileSource() override;
    PdfFileSource(const PdfFileSource&) = delete;
    PdfFileSource& operator=(const PdfFileSource&) = delete;

    qpdf_offset_t findAndSkipNextEOL() override;
    const std::string& getName() const override { return m_name; }
    qpdf_offset_t tell() override { return m_position; }
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override { m_position = 0; }
    size_t read(char* buffer, size_t length) override;
    void unreadCh(char ch) override;

private:
    struct Block {
        qpdf_offset_t start = -1;
        size_t length = 0;
        unsigned long long used = 0;
        std::vector<char> bytes;
    };

    // Reads at most length bytes at offset, fewer only at the end of the file; throws on an error.
    size_t readAt(qpdf_offset_t offset, char* buffer, size_t length);
    // The block that holds offset, read when no kept one does; null past the end of the file.
    const Block* blockAt(qpdf_offset_t offset);

    std::string m_name;
    int m_file = -1;
    qpdf_offset_t m_position = 0;
    std::vector<Block> m_blocks;
    unsigned long long m_uses = 0;
    // Where a short block showed the file to end; -1 until one did.
    qpdf_offset_t m_end = -1;
};

} // namespace qv
