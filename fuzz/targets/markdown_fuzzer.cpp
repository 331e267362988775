// Markdown through MarkdownReader into the document model's blocks.
#include "FuzzSupport.h"

#include "documents/MarkdownReader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)qv::MarkdownReader::parseMarkdown(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
