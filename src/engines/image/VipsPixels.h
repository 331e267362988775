#pragma once

// The image engine's view of a DecodedImage's pixels. Included only inside engines/image.

#include "engines/image/DecodedImage.h"

#include <QString>

#include <vips/vips.h>

#include <cstring>
#include <memory>

namespace qv {

struct VipsUnref {
    void operator()(VipsImage* image) const
    {
        if (image)
            g_object_unref(image);
    }
};
using VipsRef = std::unique_ptr<VipsImage, VipsUnref>;

struct DecodedImage::Pixels {
    explicit Pixels(VipsImage* owned) : image(owned) {}
    ~Pixels() { VipsUnref{}(image); }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    VipsImage* image;
};

// Takes ownership of the image.
DecodedImage decodedFromVips(VipsImage* owned, const ImageProperties& properties, double dpi);

// The pixels of a decoded image; null for a null one. The caller does not own it.
VipsImage* vipsImage(const DecodedImage& image);

// libvips 8.14's line cache can lose a loader's failure when several threads wait on the same rows:
// the write then succeeds with those rows blank, and only the error buffer keeps the loader's words.
// So a write that added to the buffer failed, whatever it returned.
class VipsErrorWatch {
public:
    VipsErrorWatch() : m_start(std::strlen(vips_error_buffer())) {}
    bool failed() const { return std::strlen(vips_error_buffer()) > m_start; }

private:
    size_t m_start;
};

// Runs one libvips operation that makes a new image from in; null on failure, with libvips'
// error buffer cleared and its text in *log when given.
template <typename Operation>
VipsRef vipsStep(VipsImage* in, Operation operation, QString* log = nullptr)
{
    VipsImage* out = nullptr;
    const VipsErrorWatch watch;
    if (!in || operation(in, &out) != 0 || watch.failed()) {
        if (log)
            *log = QString::fromUtf8(vips_error_buffer()).trimmed();
        vips_error_clear();
        if (out)
            g_object_unref(out);
        return {};
    }
    return VipsRef(out);
}

// "Not enough memory for this image", with libvips' text as the log.
[[noreturn]] void throwNoMemory(const QString& log = {});

// The decoder's fault ("This file is damaged or not in a supported format") when libvips' text
// says a loader failed, else throwNoMemory. Steps decode lazily, so a later frame's damage shows here.
[[noreturn]] void throwStepFailure(const QString& log);

// vipsStep, failing as throwStepFailure does.
template <typename Operation>
VipsRef mustStep(VipsImage* in, Operation operation)
{
    QString log;
    VipsRef out = vipsStep(in, operation, &log);
    if (!out)
        throwStepFailure(log);
    return out;
}

// libvips' error text, then clears it.
QString takeVipsError();

} // namespace qv
