#pragma once

#include "model/FileCategory.h"

#include <QString>

#include <optional>

namespace qv {

// What the file system says of one item, read in one go.
struct ItemStatus {
    bool isDirectory = false;
    bool isPackage = false; // a directory that counts as one document (an .rtfd bundle)
    bool isSymbolicLink = false;
    std::optional<qint64> size;           // absent for directories
    std::optional<QString> contentType;   // a MIME type
};

// The questions the file model asks of the disk; tests substitute their own answers.
class FileProbe {
public:
    virtual ~FileProbe() = default;

    // Absent when the item cannot be read. A symbolic link is described itself, not followed.
    virtual std::optional<ItemStatus> status(const QString& path) const = 0;
    virtual std::optional<QString> realPath(const QString& path) const = 0;
    // Absent when the file does not open as a PDF.
    virtual std::optional<bool> pdfNeedsPassword(const QString& path) const = 0;
    // Absent when the file does not open as an image.
    virtual std::optional<int> imageFrameCount(const QString& path) const = 0;
    // What a media file's streams make it: video when it holds pictures (cover art aside),
    // audio when it holds sound alone; absent when that cannot be told in good time.
    virtual std::optional<FileCategory> mediaCategory(const QString& path) const;

    // The probe of the real disk, which start-up installs before any file is described.
    static const FileProbe& system();
    static void installSystem(const FileProbe& probe);
};

} // namespace qv
