#pragma once

#include "documents/readers/RichTextReader.h"

namespace qv {

// The property-list documents other systems leave behind: text clippings and web archives.
class PropertyListDocuments {
public:
    PropertyListDocuments() = delete;

    // The clipping's RTF (through pandoc, in workFolder), else its plain text. Throws EngineError
    // "This file is damaged or not in a supported format" without "UTI-Data", "This clipping has
    // no text" when it holds none.
    static RichTextReader::Result readTextClipping(const QUrl& file, const QUrl& workFolder, std::stop_token stop);

    // The archive's main page with the pictures it carries; nothing is read from the network or
    // from local files. Throws EngineError "This document couldn't be read".
    static RichTextReader::Result readWebArchive(const QUrl& file);
};

} // namespace qv
