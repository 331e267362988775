#pragma once

#include "engines/image/foreign/ImageOutput.h"

#include <QString>

namespace qv {

// Which of the formats that need help this machine can write: through a libvips saver, or
// through the ffmpeg program.
struct ImageWriteSupport {
    bool vipsWebp = false;
    bool vipsAvif = false;
    bool hasFFmpeg = false;

    bool canWrite(ImageOutput output) const;

    // Asks libvips and looks for ffmpeg now.
    static ImageWriteSupport current();
};

// Whether libvips has a saver for files of that format on this machine.
bool vipsCanSave(ImageOutput output);

// The ffmpeg program the capability probe found ($QUORVENDA_FFMPEG, the bundled copy, then
// PATH); empty when there is none.
QString ffmpegProgramPath();

} // namespace qv
