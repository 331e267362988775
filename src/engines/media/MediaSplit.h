#pragma once

#include "engines/media/MediaConversion.h"

#include <QList>
#include <QString>

namespace qv {

// Cuts a sound or video into pieces by copying (equal parts, a fixed length, or at points)
// and places them together as the folder "<name> (parts)" holding "<name> 1.<ext>", ...
// Throws EngineError "This file has no duration to split", "Add at least one split point" or
// "The file was too short to split there"; nothing is placed on failure.
QUrl splitMedia(const FileInfo& file, const OperationContext& context, const MediaWork& work);

// The segment muxer's pieces ("part000.mp4", ...) in the order of their numbers, so part1000
// follows part999; other names are left out.
QStringList orderedPieces(const QStringList& names);

} // namespace qv
