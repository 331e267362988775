#pragma once

#include "engines/image/foreign/ImageOutput.h"
#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/MergeLayout.h"
#include "model/operations/OperationContext.h"

#include <QSize>
#include <QUrl>

namespace qv {

// Several image files joined into one picture, side by side or stacked, at the height (or
// width) of the largest. Joined lazily into the writer, so the canvas is never held whole.
class ImageMerge {
public:
    ImageMerge() = delete;

    // "<first> (merged)": PNG when any input has alpha or the first is a PNG, else JPEG.
    // Throws EngineError ("This file is damaged or not in a supported format", "The merged
    // image would be too large", the writer's); nothing is placed on failure.
    static QUrl merge(const QList<FileInfo>& files, MergeLayout layout, const OperationContext& context,
                      const ImageWork& work);

    // The canvas for pictures of these sizes: scaled to the common extent, the sum rounded.
    static QSize canvasSize(const QList<QSize>& sizes, MergeLayout layout);

    // Whether a picture of that size can be written in that format.
    static bool fits(QSize canvas, ImageOutput output);

    static QString tooLargeMessage();

    static constexpr int inputLimit = 6000;
};

} // namespace qv
