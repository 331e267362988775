#pragma once

#include "engines/pdf/PDFDocument.h"

#include <QList>

#include <optional>
#include <stop_token>

namespace qv {

class PdfCheckedPictures;

// The JPEG pictures a PDF's pages draw, checked before a tool copies them as they are: their
// markers, headers and all of their coded data parsed as a decode parses it (JpegStructure),
// no pixels made. Every reader draws a damaged one as garbage or nothing, so a copy of it
// would be a result made of damage.
class PdfPagePictures {
public:
    PdfPagePictures() = delete;

    // Throws EngineError "This file is damaged or not in a supported format" naming the first
    // damaged picture of these pages (every page when none are given), forms included; a
    // picture shared by pages is read once, and one whose bytes are among those already found
    // whole (when given) is not read again. A stop throws CancellationError.
    static void checkJpegs(const PDFDocument& document, const std::optional<QList<int>>& pages = std::nullopt,
                           std::stop_token stop = {}, PdfCheckedPictures* checked = nullptr);
};

} // namespace qv
