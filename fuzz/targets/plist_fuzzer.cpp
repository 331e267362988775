// Web archives and text clippings (property lists, XML or binary) through
// PropertyListDocuments, as the document conversions read them.
#include "FuzzSupport.h"

#include "documents/readers/PropertyListDocuments.h"
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
    const bool clipping = data[0] & 1;
    const QString path = qvfuzz::writeScratchFile(clipping ? QStringLiteral("input.textClipping") : QStringLiteral("input.webarchive"),
                                                  qvfuzz::bytesOf(data + 1, size - 1));
    try {
        const QUrl file = QUrl::fromLocalFile(path);
        const qv::RichTextReader::Result result = clipping
            ? qv::PropertyListDocuments::readTextClipping(file, QUrl::fromLocalFile(qvfuzz::scratchFolder()), {})
            : qv::PropertyListDocuments::readWebArchive(file);
        (void)result.document->toPlainText();
    } catch (const qv::Error&) {
    }
    return 0;
}
