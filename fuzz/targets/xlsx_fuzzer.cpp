// Whole .xlsx files through readXLSX, as a spreadsheet conversion reads them.
#include "FuzzSupport.h"

#include "documents/sheets/XlsxReader.h"
#include "model/errors/Error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = qvfuzz::writeScratchFile(QStringLiteral("input.xlsx"), qvfuzz::bytesOf(data, size));
    try {
        (void)qv::readXLSX(path);
    } catch (const qv::Error&) {
    }
    return 0;
}
