// XHTML and HTML bytes through XHTMLParser::parse, strictly first or tolerantly at once.
#include "FuzzSupport.h"

#include "documents/readers/XHTMLParser.h"
#include "model/errors/Error.h"

#include <QDir>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool strict = data[0] & 1;
    const QUrl folder = QUrl::fromLocalFile(qvfuzz::scratchFolder() + QLatin1Char('/'));
    try {
        (void)qv::XHTMLParser::parse(qvfuzz::bytesOf(data + 1, size - 1), folder, strict, folder);
    } catch (const qv::Error&) {
    }
    return 0;
}
