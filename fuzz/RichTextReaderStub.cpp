// The fuzz targets stand in for pandoc: a clipping's RTF is refused, as pandoc refuses damaged
// RTF, so the clipping reader goes on to its plain text without starting a program per input.
#include "documents/readers/RichTextReader.h"

#include "model/errors/EngineError.h"

namespace qv {

RichTextReader::Result RichTextReader::readAttributedFile(const QUrl&, const QString&, const QUrl&, std::stop_token)
{
    throw EngineError(QStringLiteral("This document is damaged or not in a supported format"));
}

} // namespace qv
