#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// The first video stream of a file, cover pictures excluded.
struct VideoStreamInfo {
    QString codec;
    // Stored frame size, before the rotation is applied; 0 when unknown.
    int width = 0;
    int height = 0;
    std::optional<double> fps;
    // Clockwise display rotation in whole degrees, 0 to 359.
    int rotation = 0;
    std::optional<QString> pixelFormat;
    // Kilobits per second.
    std::optional<int> bitrate;

    bool operator==(const VideoStreamInfo&) const = default;
};

// The first audio stream of a file.
struct AudioStreamInfo {
    QString codec;
    std::optional<int> sampleRate;
    std::optional<int> channels;
    // Kilobits per second.
    std::optional<int> bitrate;
    // Bits per sample of an integer sample format ("s32 (24 bit)" gives 24); absent for float
    // samples, which lossy decoders produce whatever the source was.
    std::optional<int> bitDepth;

    bool operator==(const AudioStreamInfo&) const = default;
};

// What a media file holds, as far as the operations need to know.
struct MediaInfo {
    // Seconds.
    std::optional<double> duration;
    // Kilobits per second, the whole file.
    std::optional<int> bitrate;
    std::optional<VideoStreamInfo> video;
    std::optional<AudioStreamInfo> audio;
    int audioStreamCount = 0;
    // One codec name per subtitle stream, in stream order.
    QStringList subtitleCodecs;
    // One codec name per cover picture ("mjpeg", "png", "gif"), in stream order.
    QStringList coverCodecs;
    // The covers do not decode, and no result keeps them.
    bool coversLeftOut = false;
    // FFmpeg's input format names, such as "mov,mp4,m4a,3gp,3g2,mj2".
    std::optional<QString> container;
    // The demuxer every run names before "-i", so that it reads the file as the probe did.
    std::optional<QString> demuxer;
    // FFmpeg's own guess disagreed with the file's name and was too weak to believe: the file
    // was read as its name says. Only a run that names the demuxer reads it right.
    bool guessOverruled = false;

    bool operator==(const MediaInfo&) const = default;
};

} // namespace qv
