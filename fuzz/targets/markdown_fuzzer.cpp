// Markdown through MarkdownReader into the document model's blocks, and straight to HTML.
#include "FuzzSupport.h"

#include "documents/readers/MarkdownReader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)qv::MarkdownReader::parseMarkdown(text);
    qsizetype written = 0;
    (void)qv::MarkdownReader::writeHTML(
        text, [](const qv::DocBlock& image) { return image.path; }, [&](QByteArrayView piece) { written += piece.size(); });
    return 0;
}
