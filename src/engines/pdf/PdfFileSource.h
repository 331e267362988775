#pragma once

#include <qpdf/InputSource.hh>

#include <string>
#include <vector>

namespace qv {

// A PDF file as qpdf reads it, through positioned reads of a block at a time: qpdf's own file
// source asks the system for every seek, which a document of thousands of objects pays
// thousands of times over, each behind the worker's system-call filter.
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
    // Reads at most length bytes at offset, fewer only at the end of the file; throws on an error.
    size_t readAt(qpdf_offset_t offset, char* buffer, size_t length);

    std::string m_name;
    int m_file = -1;
    qpdf_offset_t m_position = 0;
    std::vector<char> m_block;
    qpdf_offset_t m_blockStart = 0;
    size_t m_blockLength = 0;
};

} // namespace qv
