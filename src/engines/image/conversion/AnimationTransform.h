#pragma once

#include "engines/image/foreign/ImageOutput.h"

#include <QSize>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// Turns, mirrors or scales every frame of an animated GIF or WebP, keeping each frame's delay
// and the loop, so an animation never silently becomes a still.
class AnimationTransform {
public:
    AnimationTransform() = delete;

    struct Edit {
        int degrees = 0; // clockwise quarter turns, as ImageTransforms::transformed counts them
        bool flipHorizontally = false;
        bool flipVertically = false;
        // The longer side of every frame after the turn; none keeps the size.
        std::optional<int> longerSide;
        double quality = 0.9; // WebP only
    };

    // Frames are held decoded one at a time while they are redrawn; an animation whose frames
    // together exceed the memory cap is refused. Throws EngineError ("This file is damaged or
    // not in a supported format", "Not enough memory for this image", "Couldn't write the
    // <EXT> file"), CancellationError; nothing is left at destination on failure.
    static void write(const QString& source, const QString& destination, ImageOutput output, const Edit& edit,
                      std::stop_token stop);

    // The pixels all redrawn frames may take together.
    static constexpr qint64 memoryCap = qint64(768) << 20;
};

} // namespace qv
