// The fuzzer's bytes as one part (worksheet, shared strings, workbook, styles, relationships)
// of an otherwise valid workbook, so that the XML readers are reached past the zip.
#include "XlsxPackage.h"

#include "documents/sheets/XlsxReader.h"
#include "model/errors/Error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const auto part = qvfuzz::XlsxPart(data[0] % int(qvfuzz::XlsxPart::count));
    const QByteArray package = qvfuzz::xlsxPackage(part, qvfuzz::bytesOf(data + 1, size - 1));
    const QString path = qvfuzz::writeScratchFile(QStringLiteral("input.xlsx"), package);
    try {
        (void)qv::readXLSX(path);
    } catch (const qv::Error&) {
    }
    return 0;
}
