#pragma once

#include "model/EnumText.h"

#include <QHashFunctions>

namespace qv {

// One kind of row in the options sheet; an operation lists the rows it wants, in order.
enum class OptionField {
    imageQuality,
    maxDimension,
    resizeScale,
    alphaBackground,
    lossless,
    videoPreset,
    videoCodec,
    maxResolution,
    audioBitrate,
    sampleRate,
    compressPreset,
    pdfCompression,
    dpi,
    pageSize,
    pageRanges,
    splitPages,
    splitMedia,
    password,
    rotation,
    flip,
    speed,
    fade,
    subtitleShift,
    snapshotTime,
    backgroundColor,
    mergeLayout,
    mergeOrder,
    allSheets,
    trimFast,
    ringtoneLength,
    approximateLayoutNote
};

template <>
struct EnumText<OptionField> {
    static constexpr std::array names{
        "imageQuality",   "maxDimension",    "resizeScale",   "alphaBackground",
        "lossless",       "videoPreset",     "videoCodec",    "maxResolution",
        "audioBitrate",   "sampleRate",      "compressPreset", "pdfCompression",
        "dpi",            "pageSize",        "pageRanges",    "splitPages",
        "splitMedia",     "password",        "rotation",      "flip",
        "speed",          "fade",            "subtitleShift", "snapshotTime",
        "backgroundColor", "mergeLayout",    "mergeOrder",    "allSheets",
        "trimFast",       "ringtoneLength",  "approximateLayoutNote"};
};

std::optional<OptionField> optionFieldFromString(const QString& text);

// The fixed note of a row that sets no value; none for the rows that set one.
std::optional<QString> optionFieldNote(OptionField field);

inline size_t qHash(OptionField field, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(field), seed);
}

} // namespace qv
