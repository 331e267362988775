#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace qv {

// What FFmpeg says of an MP3 whose Xing header's length disagrees with the file's.
inline constexpr const char* mp3LengthWarning = "filesize and duration do not match";

// MPEG audio frames (MP1, MP2, MP3) found by their headers: where a chain of them starts, so
// that a file whose name says MP3 is read as one though bytes before its first frame look like
// something else to FFmpeg (recorders write their own headers there).
class MpegAudioFrames {
public:
    MpegAudioFrames() = delete;

    // The length of the frame whose header starts at p, or nothing when it is no valid header.
    static std::optional<int> frameLength(const uchar* p);

    // The offset of the first chain of at least `frames` frames, each header right where the
    // previous frame ends, within the first `limit` bytes of the file.
    static std::optional<qint64> chainStart(const QString& path, int frames = 8, qint64 limit = 4 << 20);
    static std::optional<qint64> chainStart(const QByteArray& bytes, int frames = 8);

    // Whether the file's frames, from the first chain on, run to its end (or to a tag there:
    // ID3v1, APE, Lyrics3) with none cut short: a whole MP3 whatever its Xing or VBRI header
    // says of its length. A file cut short ends inside a frame.
    static bool runToTheEnd(const QString& path);

    // Where the file's last whole frame ends, when bytes that hold no more frames follow it
    // (a tag, a recorder's junk, a tag behind junk); nothing when the frames run to the end,
    // the last frame is cut short, or no chain of frames is found.
    static std::optional<qint64> trailerStart(const QString& path);

    // Where the tags at the file's end start (ID3v1 and its extended block, APEv2, Lyrics3v2, in
    // any order): the file's length when it ends in none.
    static qint64 endTagsStart(const QString& path);
};

} // namespace qv
