// RTF bytes through RtfDecoder::toUtf8, then what it gives through RtfStyleReader::read; the
// first byte sends the bytes to the Word or OpenDocument style readers instead.
#include "FuzzSupport.h"

#include "documents/readers/RtfDecoder.h"
#include "documents/styles/OpenDocumentStyleReader.h"
#include "documents/styles/RtfStyleReader.h"
#include "documents/styles/WordStyleReader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes = qvfuzz::bytesOf(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        (void)qv::WordStyleReader::read(bytes, bytes);
        (void)qv::WordStyleReader::runningText(bytes);
        break;
    case 1:
        (void)qv::OpenDocumentStyleReader::read(bytes, bytes);
        break;
    default:
        (void)qv::RtfStyleReader::read(qv::RtfDecoder::toUtf8(bytes));
        break;
    }
    return 0;
}
