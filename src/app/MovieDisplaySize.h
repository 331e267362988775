#pragma once

#include <QByteArray>
#include <QSizeF>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// The size a movie shows at: its first video stream's coded size, width and height exchanged
// for a quarter-turn rotation. Read with ffprobe; blocks, so never on the main thread. Absent
// when there is no ffprobe, no video stream or no size.
std::optional<QSizeF> movieDisplaySize(const QString& path, std::stop_token stop = {});

// The same from ffprobe's JSON output of -show_streams.
std::optional<QSizeF> movieDisplaySizeFromProbe(const QByteArray& json);

} // namespace qv
