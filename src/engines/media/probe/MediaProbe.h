#pragma once

#include "engines/media/probe/MediaInfo.h"

#include <QString>
#include <QUrl>

#include <optional>
#include <stop_token>

namespace qv {

// Describes one media file: the system's media framework first for the types it knows, FFmpeg
// otherwise. Blocks on FFmpeg, so never call it on the main thread. Throws EngineError for a
// file with neither video nor audio ("This file is damaged or not in a supported format", FFmpeg's
// text as the log) and without FFmpeg; CancellationError when stopped; SystemError when FFmpeg
// cannot start.
//
// FFmpeg's guess of the format is checked against the file's name: when they disagree and the
// guess rests on no real header, the file is read as its name says (`guessOverruled`). Either
// way `demuxer` names the format every run must give before "-i". The length of a file read
// against FFmpeg's guess is measured from its packets when FFmpeg would guess it from the bitrate.
MediaInfo probeMediaInfo(const QUrl& file, std::stop_token stop);
MediaInfo probeMediaInfo(const std::optional<QUrl>& ffmpeg, const QUrl& file, std::stop_token stop);

// probeMediaInfo's answer with FFmpeg's text, when that text alone describes the file (one
// probe, FFmpeg's guess agreeing with the name), so that a later reader of the same file can
// take it instead of starting FFmpeg again.
struct DescribedMedia {
    MediaInfo info;
    std::optional<QString> description;
};
DescribedMedia describeMediaFile(const std::optional<QUrl>& ffmpeg, const QUrl& file, std::stop_token stop);

// The file as such a text describes it; nothing when the text does not describe it alone (the
// caller then probes the file).
std::optional<MediaInfo> mediaInfoFromDescription(const QString& description, const QUrl& file);

// Whether FFmpeg's decoder makes the whole of the file's first sound, as far as the file's own
// configuration tells: not an MPEG-4 ALS stream of floating-point samples, which its probe
// cannot tell from a 16-bit one. True when the file says nothing against it.
bool soundDecodable(const QUrl& file, const MediaInfo& info);

// FFmpeg's demuxer for a file of this lower-case extension, when the catalogue knows one.
std::optional<QString> demuxerForExtension(const QString& extension);

// Whether FFmpeg's input format names ("mov,mp4,m4a,...") include the demuxer.
bool containerIs(const std::optional<QString>& container, const QString& demuxer);

} // namespace qv
