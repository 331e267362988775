#pragma once

#include <QTextDocument>

class QPaintDevice;

namespace qv {

// Tables wider than the text they stand in: their type shrinks (down to a floor) until the
// longest word of every column fits, and column widths that would cut a word give way to the
// layout's own, so that words are broken only when nothing else will do.
class TableFitting {
public:
    TableFitting() = delete;

    // width: the text's width in the device's units; the document is laid out on device.
    static void fitTables(QTextDocument& document, double width, QPaintDevice* device);

    static constexpr double smallestScale = 0.6;
};

} // namespace qv
