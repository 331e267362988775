// Whole EPUB files through EPUBReader::read and documentModel.
#include "EpubRead.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qvfuzz::readEpub(qvfuzz::bytesOf(data, size));
    return 0;
}
