// The fuzzer's bytes as one part (chapter, package document, container, nav) of an otherwise
// valid EPUB, so that the XML readers are reached past the zip.
#include "EpubPackage.h"
#include "EpubRead.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const auto part = qvfuzz::EpubPart(data[0] % int(qvfuzz::EpubPart::count));
    qvfuzz::readEpub(qvfuzz::epubPackage(part, qvfuzz::bytesOf(data + 1, size - 1)));
    return 0;
}
