#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace qv {

// libtiff's fax, LZW and run-length decoders say that a strip or tile is damaged only as a
// warning ("Premature EOL", "Line length mismatch") and fill the rest with what they have;
// libvips passes such warnings to the log and makes the picture anyway. This decodes one page
// of a TIFF whole and says what damage its decoder reported on the way. Warnings are counted
// for the whole process, so two TIFFs decoded at the same moment share them: a worker reads
// one file at a time.
class TiffStripDamage {
public:
    TiffStripDamage() = delete;

    // Whether libvips reads this file with its TIFF loader.
    static bool isTiff(const QByteArray& nativePath);

    // A damage warning or the error of a whole decode of page `index`, or nothing.
    static std::optional<QString> problem(const QByteArray& nativePath, int index);

    // Whether a libtiff warning tells of damaged coded data (not of an odd tag).
    static bool isDamageWarning(const QString& message);
};

} // namespace qv
