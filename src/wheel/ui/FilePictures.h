#pragma once

#include "catalogue/isolated/IsolatedDocumentReading.h"
#include "model/files/FileInfo.h"

#include <QImage>
#include <QStringList>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

// The picture of the file before its content is read: the desktop theme's icon for its type
// (a promised file by its content type), else our own drawing of its category with its format's
// label, side pixels square. Cheap enough to be asked for while the wheel opens; main thread
// only. Absent only for a side of zero.
std::optional<QImage> fileIcon(const FileInfo& file, int side);

// A page showing the start of what a preview holds (its title, text, tables as rows), for a
// square of side pixels: the picture of a text, a sheet, an archive or subtitles. Null for a
// side too small to write on.
QImage pagePicture(const IsolatedDocumentReading::Preview& preview, int side);

// Our own drawing of a category, with the label (a format's name) under its symbol when there
// is room.
QImage drawnFileIcon(FileCategory category, const QString& label, int side);

// Reads a picture of the file's content scaled to fit the side, off the main thread, and hands
// it to the callback there: the desktop's (a file manager's cached thumbnail, else an installed
// thumbnailer's), else our own: an image's picture, a PDF's first page, a video's frame, an audio
// file's cover, the preview an office package carries, a page of what a text, a sheet, an
// archive or subtitles hold. Untrusted bytes are decoded in a worker process or by FFmpeg as a child. Other
// files, folders, promised files and files that cannot be read get a null image; a request
// stopped meanwhile gets no answer.
void loadThumbnail(const FileInfo& file, int side, std::stop_token stop, std::function<void(QImage)> done);

// FFmpeg's arguments for one frame of a video (or an audio file's cover) from `seconds` on, as a
// PPM on standard output fitting a square of side pixels.
QStringList centreFrameArguments(const QString& path, int side, double seconds, bool cover);

} // namespace qv
