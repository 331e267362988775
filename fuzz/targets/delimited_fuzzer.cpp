// CSV and TSV files through readDelimitedText, and the rows written out again.
#include "FuzzSupport.h"

#include "documents/sheets/DelimitedText.h"
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
    static const char* const names[] = {"input.csv", "input.tsv", "input.tab", "input.txt"};
    const QString path = qvfuzz::writeScratchFile(QLatin1String(names[data[0] % 4]), qvfuzz::bytesOf(data + 1, size - 1));
    try {
        const QList<QStringList> rows = qv::readDelimitedText(path);
        // What a conversion to CSV or TSV writes from them.
        (void)qv::delimitedText(rows, QLatin1Char(','));
    } catch (const qv::Error&) {
    }
    return 0;
}
