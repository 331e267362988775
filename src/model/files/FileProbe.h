#pragma once

#include "model/files/FileCategory.h"

#include <QString>
#include <QStringList>

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

// What a probe of a media file found in it.
struct MediaStreams {
    bool video = false; // pictures, cover art aside
    bool audio = false; // a sound the decoder reads whole
    // FFmpeg's text on the file when it alone describes it: the worker that runs a job on the
    // file reads it instead of starting FFmpeg again.
    std::optional<QString> description = {};

    // The streams; the text is how they were found.
    bool operator==(const MediaStreams& other) const { return video == other.video && audio == other.audio; }
};

// Files about to be described one by one, by what their names say they hold.
struct FilesAhead {
    QStringList pdfs;       // their lock
    QStringList animations; // pictures of types that may hold frames: their frames
    QStringList media;      // videos by name: their streams

    qsizetype size() const { return pdfs.size() + animations.size() + media.size(); }
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
    // The streams of a media file; absent when they cannot be told in good time.
    virtual std::optional<MediaStreams> mediaStreams(const QString& path) const;
    // A probe may read the files about to be described all at once. Only ever a saving: a file
    // no answer came for is asked alone as before.
    virtual void lookAhead(const FilesAhead& files) const;

    // The probe of the real disk, which start-up installs before any file is described.
    static const FileProbe& system();
    static void installSystem(const FileProbe& probe);
};

} // namespace qv
