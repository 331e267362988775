#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace qv {

// A JPEG written again from its own coefficients, in progressive scans with Huffman tables fitted
// to them: a decoder draws exactly the pixels it drew before, from about a tenth fewer bytes.
// Safe on any thread.
class JpegCompaction {
public:
    JpegCompaction() = delete;

    // Empty when libjpeg cannot read the JPEG or finds it damaged.
    static QByteArray compact(QByteArrayView jpeg);
};

} // namespace qv
