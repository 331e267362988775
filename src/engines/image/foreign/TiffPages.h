#pragma once

#include "engines/image/DecodedImage.h"
#include "engines/image/ImageWork.h"

#include <QString>

#include <functional>
#include <optional>

namespace qv {

// Every page of a multi-page TIFF (a scan, a fax) through an edit, written back as one TIFF:
// the single-picture road decodes the first page only and would drop the rest.
class TiffPages {
public:
    TiffPages() = delete;

    // How many pages the file holds: 1 for a file that is no TIFF or has one page.
    static int count(const QString& path);

    // Decodes each page (its longer side at most maxPixelSize), edits it and writes all of them,
    // LZW-compressed, each at its own size, to destination; bare keeps no metadata but the
    // colour profile. Throws as decoding and writing throw, leaving nothing at destination.
    static void write(const QString& source, int pages, const QString& destination,
                      const std::function<DecodedImage(const DecodedImage&)>& edit, const ImageWork& work,
                      std::optional<int> maxPixelSize = std::nullopt, bool bare = false);
};

} // namespace qv
