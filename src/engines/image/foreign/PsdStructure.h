#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace qv {

// Whether a Photoshop file (PSD or PSB) holds together before its decoder sees it: the header's
// figures, the colour mode data, the resources, the layers with each channel's pixel data and
// the merged picture must all lie inside the file and add up, and every run-length row must
// unpack to exactly its width from exactly the bytes its count gives. ImageMagick, libvips'
// road to these files, leaves a row it cannot fill as the memory it happened to get, so a
// picture of damage differs from one process to the next; a file that passes here leaves it
// nothing to invent. It reads the coded bytes, never makes pixels. Safe on any thread.
class PsdStructure {
public:
    PsdStructure() = delete;

    // Whether the bytes start as a Photoshop file does.
    static bool isPsd(QByteArrayView head);

    // What does not add up, or nothing when every part holds together.
    static std::optional<QString> fault(QByteArrayView bytes);

    // The same for a file, read through a mapping; a file that cannot be read is a fault.
    static std::optional<QString> faultOfFile(const QString& path);
};

} // namespace qv
