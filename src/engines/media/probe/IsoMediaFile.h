#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace qv {

// What the boxes of an MP4 or QuickTime file (ISO base media) say without decoding anything:
// enough to read back a file FFmpeg just wrote without starting FFmpeg again.
class IsoMediaFile {
public:
    IsoMediaFile() = delete;

    // The length in seconds from the movie header, when the file's top-level boxes cover it
    // exactly (a file cut short fails that), it holds one movie box with its header and at
    // least one track (with `soundRequired`, one whose handler is sound), and the length is
    // positive. Nothing otherwise: the caller asks FFmpeg.
    static std::optional<double> duration(const QString& path, bool soundRequired = false);

    // The decoder's own configuration of the first sound track's MPEG-4 audio (the
    // decoder information of its "esds" box), which says what FFmpeg's probe does not (an ALS
    // stream's sample format); absent when the file holds none or its boxes do not lead to it.
    static std::optional<QByteArray> soundDecoderConfig(const QString& path);

    // What a stream copy of the file must list again in the movie box it writes: the size of the
    // file's own movie box and the samples its tracks hold. Nothing for a fragmented file (its
    // samples are listed in fragments after that box) or boxes that do not lead to each track's
    // sample sizes.
    struct SampleTables {
        qint64 movieBytes = 0;
        qint64 samples = 0;
    };
    static std::optional<SampleTables> sampleTables(const QString& path);

    // The decoder configuration ("avcC", "hvcC": the parameter sets and how long the lengths
    // before each unit are) of the file's one picture track, when that track has one sample
    // description and the configuration follows its fixed fields; absent otherwise.
    static std::optional<QByteArray> videoDecoderConfig(const QString& path);

    // Whether a file of this lower-case extension is read by duration().
    static bool handles(const QString& extension);
};

} // namespace qv
