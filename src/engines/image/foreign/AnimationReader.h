#pragma once

#include <QString>

#include <vips/vips.h>

namespace qv {

// Every frame of an animation stacked top to bottom in one image, page-height, n-pages, delay
// and loop set, to be read from top to bottom only. A frame is decoded when the pipeline
// reaches it and dropped once it has passed, so memory stays at about one frame whatever the
// length. Animated WebP is read here with libwebp's decoder, which the libvips loader of this
// release cannot stream (it decodes the whole animation first, into a temporary file when it is
// large); everything else through libvips' own loaders in sequential mode. Null with libvips'
// error set when the file does not open; the caller owns the reference.
VipsImage* openAnimationImage(const QString& path);

} // namespace qv
