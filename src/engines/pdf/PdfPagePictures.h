#pragma once

#include "engines/pdf/PDFDocument.h"

#include <QList>

#include <functional>
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
    // meanwhile, when given, runs on this thread while the last of the pictures are parsed on
    // others: it may use the document, but what it makes is the caller's to remove when this
    // throws. A damaged picture is reported before any error of meanwhile's own, which is
    // thrown once every picture was found whole.
    static void checkJpegs(const PDFDocument& document, const std::optional<QList<int>>& pages = std::nullopt,
                           std::stop_token stop = {}, PdfCheckedPictures* checked = nullptr,
                           const std::function<void()>& meanwhile = {});
};

} // namespace qv
