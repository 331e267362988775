#pragma once

#include "engines/media/operations/MediaConversion.h"
#include "model/operations/SplitMode.h"

#include <QList>
#include <QString>

namespace qv {

// Where a split cuts: at these times (equal parts and points), or every `segmentLength`
// seconds; `pieces` is how many pieces the cuts make.
struct SplitPlan {
    std::optional<QList<double>> times;
    std::optional<double> segmentLength;
    int pieces = 2;
};

// Throws EngineError "Add at least one split point" when no point lies inside the file.
SplitPlan splitPlan(const std::optional<SplitMode>& mode, double duration);

// Cuts a sound or video into pieces by copying (equal parts, a fixed length, or at points)
// and places them together as the folder "<name> (parts)" holding "<name> 1.<ext>", ...
// A video whose key frames are too few for the cuts is encoded again, as the trim does.
// Throws EngineError "This file has no duration to split", "Add at least one split point" or
// "The file was too short to split there"; nothing is placed on failure.
QUrl splitMedia(const FileInfo& file, const OperationContext& context, const MediaWork& work);

// The segment muxer's pieces ("part000.mp4", ...) in the order of their numbers, so part1000
// follows part999; other names are left out.
QStringList orderedPieces(const QStringList& names);

} // namespace qv
