#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace qv {

// A picture as an editor shows it: a shrink-on-load preview, upright and in sRGB, with the full
// size and the transparency read from the header.
struct EditorPicture {
    QImage preview; // at most `side` pixels on the longer side
    QSize pixelSize; // of the full picture, upright
    bool hasAlpha = false;

    // Throws on anything unreadable, a cut-off file included (it would show partly grey and be
    // saved so); a huge picture is never decoded whole.
    static EditorPicture load(const QString& path, int side);
};

} // namespace qv
