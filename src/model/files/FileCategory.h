#pragma once

#include "model/EnumText.h"

#include <QHashFunctions>

namespace qv {

enum class FileCategory {
    image,
    video,
    audio,
    pdf,
    document,
    presentation,
    spreadsheet,
    ebook,
    subtitle,
    archive,
    folder,
    other
};

template <>
struct EnumText<FileCategory> {
    static constexpr std::array names{"image",       "video",    "audio",   "pdf",
                                      "document",    "presentation", "spreadsheet", "ebook",
                                      "subtitle",    "archive",  "folder",  "other"};
};

// The plural display name used in lists and headings ("Images", "Other files").
QString title(FileCategory category);

// The category of a content type (a MIME type, or a type identifier of the format catalogue).
FileCategory categoryForContentType(const QString& type);

inline size_t qHash(FileCategory category, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(category), seed);
}

} // namespace qv
