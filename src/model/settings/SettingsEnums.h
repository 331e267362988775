#pragma once

#include "model/EnumText.h"

namespace qv {

enum class ModifierChoice { shift, command, control, option, off };
enum class WheelSize { small, medium, large };
enum class SaveLocation { besideOriginal, folder };
enum class VideoCodecChoice { h264, hevc };
enum class QualityPreset { small, medium, high };
enum class PDFCompressionLevel { low, medium, high };
enum class PageSizeChoice { a4, letter };
enum class SettingsTab { general, output, wheels, quality, engines, advanced };

template <>
struct EnumText<ModifierChoice> {
    static constexpr std::array names{"shift", "command", "control", "option", "off"};
};
template <>
struct EnumText<WheelSize> {
    static constexpr std::array names{"small", "medium", "large"};
};
template <>
struct EnumText<SaveLocation> {
    static constexpr std::array names{"besideOriginal", "folder"};
};
template <>
struct EnumText<VideoCodecChoice> {
    static constexpr std::array names{"h264", "hevc"};
};
template <>
struct EnumText<QualityPreset> {
    static constexpr std::array names{"small", "medium", "high"};
};
template <>
struct EnumText<PDFCompressionLevel> {
    static constexpr std::array names{"low", "medium", "high"};
};
template <>
struct EnumText<PageSizeChoice> {
    static constexpr std::array names{"a4", "letter"};
};
template <>
struct EnumText<SettingsTab> {
    static constexpr std::array names{"general", "output", "wheels", "quality", "engines",
                                      "advanced"};
};

// JPEG quality (0 to 1) and resolution (dpi) of the images in a compressed PDF.
inline double imageQuality(PDFCompressionLevel level)
{
    switch (level) {
    case PDFCompressionLevel::low: return 0.8;
    case PDFCompressionLevel::medium: return 0.7;
    case PDFCompressionLevel::high: return 0.55;
    }
    return 0.7;
}

inline int imageResolution(PDFCompressionLevel level)
{
    switch (level) {
    case PDFCompressionLevel::low: return 200;
    case PDFCompressionLevel::medium: return 150;
    case PDFCompressionLevel::high: return 100;
    }
    return 150;
}

} // namespace qv
