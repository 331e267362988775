#pragma once

#include "engines/image/ImageWork.h"

#include <QString>
#include <QStringList>

namespace qv {

// WebP and AVIF through the FFmpeg program, for machines whose libvips cannot write them: a
// PNG intermediate is encoded by FFmpeg. Only the argument lists and the run live here.
class FFmpegImageWriter {
public:
    FFmpegImageWriter() = delete;

    // libaom AV1 still picture at CRF (1 - q) x 50 + 10; with alpha, a second plane from
    // alphaextract and two maps.
    static QStringList avifEncoderArgs(double quality, bool alpha);

    // libwebp at quality q x 100, or lossless.
    static QStringList webpEncoderArgs(double quality, bool lossless);

    // Everything after the fixed prefix: the PNG in, the encoder, the output file.
    static QStringList commandLine(const QString& png, const QStringList& encoder, const QString& output);

    // Runs FFmpeg (no environment, temporary root as working directory, no progress of its
    // own). Throws EngineError without the program, FFmpegError for a failed run,
    // CancellationError when stopped.
    static void run(const QString& png, const QStringList& encoder, const QString& output,
                    const ImageWork& work);
};

} // namespace qv
