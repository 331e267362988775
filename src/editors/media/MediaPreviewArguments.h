#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// FFmpeg's arguments for the media editor's preview pieces. Files only ever appear as
// "file:" + path, so no name can pass for an option or a protocol; a source is read with the
// demuxer its probe named, as every run of the engine reads it.

// The reduced copy of a file the player cannot play, after FFmpeg's fixed leading arguments:
// sound alone in AAC for an audio file, else the first real video stream at most 480 high.
QStringList proxyArguments(bool audio, const QString& source, const std::optional<QString>& demuxer,
                           const QString& proxy);

// One filmstrip frame at `seconds`, as a PPM on standard output, complete.
QStringList frameArguments(double seconds, const QString& source, const std::optional<QString>& demuxer);

// The first audio stream as 8 kHz mono signed 16-bit little-endian samples on standard output,
// complete.
QStringList waveformArguments(const QString& source, const std::optional<QString>& demuxer);

} // namespace qv
