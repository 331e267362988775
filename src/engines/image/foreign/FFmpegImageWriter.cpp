#include "engines/image/foreign/FFmpegImageWriter.h"

#include "engines/image/foreign/ImageHeader.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "platform/processes/FFmpegInvocation.h"

namespace qv {

QStringList FFmpegImageWriter::avifEncoderArgs(double quality, bool alpha)
{
    QStringList args;
    if (alpha)
        args << QStringLiteral("-filter_complex")
             << QStringLiteral("[0:v]format=yuva444p,split[c][a];[a]alphaextract[alpha]")
             << QStringLiteral("-map") << QStringLiteral("[c]") << QStringLiteral("-map")
             << QStringLiteral("[alpha]");
    const int crf = int((1.0 - quality) * 50.0 + 10.0 + 1e-9);
    args << QStringLiteral("-c:v") << QStringLiteral("libaom-av1") << QStringLiteral("-still-picture")
         << QStringLiteral("1") << QStringLiteral("-crf") << QString::number(crf)
         << QStringLiteral("-cpu-used") << QStringLiteral("6") << QStringLiteral("-row-mt")
         << QStringLiteral("1") << QStringLiteral("-f") << QStringLiteral("avif");
    return args;
}

QStringList FFmpegImageWriter::webpEncoderArgs(double quality, bool lossless)
{
    QStringList args{QStringLiteral("-c:v"), QStringLiteral("libwebp")};
    if (lossless)
        args << QStringLiteral("-lossless") << QStringLiteral("1");
    else
        args << QStringLiteral("-quality") << QString::number(int(quality * 100.0 + 1e-9));
    args << QStringLiteral("-f") << QStringLiteral("webp");
    return args;
}

QStringList FFmpegImageWriter::commandLine(const QString& png, const QStringList& encoder,
                                           const QString& output)
{
    return QStringList{QStringLiteral("-i"), ffmpegFileOperand(png)} + encoder
        + QStringList{ffmpegFileOperand(output)};
}

void FFmpegImageWriter::run(const QString& png, const QStringList& encoder, const QString& output,
                            const ImageWork& work)
{
    FFmpegProgressContext progress;
    progress.progress = work.progress;
    const ProcessRunner::Output result =
        runFFmpeg(work.ffmpegProgram(), commandLine(png, encoder, output), work.stop, progress);
    throwIfCancelled(work.stop);
    checkFFmpegRun(result);
    // FFmpeg may end well having written a file that holds no picture.
    if (!imagePixelSize(output)) {
        const qsizetype format = encoder.indexOf(QStringLiteral("-f"));
        const QString name = format >= 0 && format + 1 < encoder.size() ? encoder[format + 1].toUpper() : QStringLiteral("image");
        throw EngineError(QStringLiteral("Couldn't write the %1 file").arg(name), result.stderrText());
    }
}

} // namespace qv
