#pragma once

#include "engines/media/probe/MediaInfo.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// Reads the description of an input that "ffmpeg -i FILE" prints on standard error. Never
// fails: whatever it cannot read stays at its start value.
MediaInfo parseFFmpegProbeOutput(const QString& text);

// The capture groups of the first match in text ("" for a group that took no part); nothing
// when the pattern is invalid or does not match.
std::optional<QStringList> firstMatchCaptures(const QRegularExpression& pattern, const QString& text);

} // namespace qv
