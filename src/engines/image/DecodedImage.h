#pragma once

#include "engines/image/metadata/ImageProperties.h"

#include <QImage>

#include <memory>

namespace qv {

// One decoded image: its pixels (held by the image engine, possibly still being read from the
// file), the file's properties and its resolution. A value: copies share the pixels, which
// never change. An image decoded from a file streams from it, so it is written once; one made
// from pixels, or through materialized(), can be read any number of times.
class DecodedImage {
public:
    DecodedImage();
    ~DecodedImage();
    DecodedImage(const DecodedImage&);
    DecodedImage& operator=(const DecodedImage&);
    DecodedImage(DecodedImage&&) noexcept;
    DecodedImage& operator=(DecodedImage&&) noexcept;

    // 8-bit RGB or RGBA pixels (any QImage format is converted to one of these) at the given
    // resolution; null for a null image. Throws EngineError "Not enough memory for this image".
    static DecodedImage fromPixels(const QImage& image, double dpi = 72.0);

    bool isNull() const;
    int width() const;
    int height() const;
    bool hasAlpha() const;
    // Horizontal resolution in dots per inch: the file's when it states one above 0, else 72.
    double dpi() const;
    // The EXIF orientation the file states (1 when none); the pixels are already upright.
    int orientation() const;
    const ImageProperties& properties() const;
    void setProperties(const ImageProperties& properties);

    // 8-bit sRGB pixels: Format_RGBA8888 with alpha, Format_RGB888 without. Reads the pixels.
    // Throws EngineError "Not enough memory for this image".
    QImage toQImage() const;

    // A copy whose pixels are decoded into memory now, so it can be read more than once.
    // Throws EngineError "Not enough memory for this image", or the decoder's sentence for a
    // file that turns out damaged or cut short.
    DecodedImage materialized() const;

    struct Pixels;
    // The engine's own handle; only code of the image engine uses it.
    const std::shared_ptr<Pixels>& pixels() const { return m_pixels; }
    explicit DecodedImage(std::shared_ptr<Pixels> pixels, ImageProperties properties = {},
                          double dpi = 72.0);

private:
    std::shared_ptr<Pixels> m_pixels;
    ImageProperties m_properties;
    double m_dpi = 72.0;
};

} // namespace qv
