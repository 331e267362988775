#include "engines/media/operations/ImagesToVideo.h"

#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/ImageFrames.h"
#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/MediaRun.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"
#include "platform/processes/FFmpegInvocation.h"

#include <QDir>

#include <cerrno>

namespace qv {

namespace {

const QString evenSize = scaleFilter(std::nullopt);

// What the encoder tables need to know of a picture that has no stream description: its size
// at 25 frames a second.
MediaInfo assumedStream(QSize pixelSize)
{
    VideoStreamInfo video;
    video.codec = QStringLiteral("gif");
    video.width = pixelSize.width();
    video.height = pixelSize.height();
    video.fps = 25.0;
    MediaInfo info;
    info.video = video;
    return info;
}

// The "frames" folder of the work directory; beside the work files when the caller has no
// folder maker.
QUrl frameFolder(const MediaWork& work)
{
    if (work.workFolder)
        return work.workFolder(QStringLiteral("frames"));
    const QString path = work.workFile(QStringLiteral("frames")).toLocalFile();
    if (!QDir().mkpath(path))
        throw SystemError::fromErrno(errno, path);
    return QUrl::fromLocalFile(path);
}

} // namespace

QStringList imagesToVideoTargetArgs(VideoTarget target, QSize pixelSize)
{
    switch (target) {
    case VideoTarget::gif: return {};
    case VideoTarget::webm:
        return {"-an", "-vf", evenSize, "-c:v", "libvpx-vp9", "-crf", "32", "-b:v", "0", "-row-mt", "1",
                "-deadline", "good", "-cpu-used", "3", "-pix_fmt", "yuv420p", "-f", "webm"};
    case VideoTarget::webp:
        return {"-an", "-c:v", "libwebp_anim", "-quality", "80", "-loop", "0", "-f", "webp"};
    case VideoTarget::mp4:
    case VideoTarget::mov:
    case VideoTarget::mkv:
    case VideoTarget::avi:
    case VideoTarget::hevc:
    case VideoTarget::prores: break;
    }
    const MediaInfo info = assumedStream(pixelSize);
    const int kilobits = videoBitrate(info, QualityPreset::high, std::nullopt);
    QStringList args{"-an", "-vf"};
    if (target == VideoTarget::hevc)
        args << scaleFilter(std::nullopt, hevcSmallestSide) + QStringLiteral(",format=yuv420p") << hevcEncoderArgs(info, QualityPreset::high, kilobits);
    else if (target == VideoTarget::prores)
        args << evenSize + QStringLiteral(",format=yuv422p10le")
             << videoCodecArgs(target, info, VideoCodecChoice::h264, QualityPreset::high, std::nullopt, false);
    else
        args << evenSize + QStringLiteral(",format=yuv420p") << h264EncoderArgs(kilobits);
    args << "-movflags" << "+faststart" << "-fps_mode" << "vfr" << "-f" << videoTargetMuxer(target);
    return args;
}

QUrl imagesToVideo(const FileInfo& file, VideoTarget target, const OperationContext& context,
                   const MediaWork& work)
{
    const QString source = file.url.toLocalFile();
    const QString extension = videoTargetFileExtension(target);
    if (target == VideoTarget::gif) {
        const QUrl output = work.workFile(extension);
        ImageFrames::writeGIF(source, output.toLocalFile(), 0, context.stopToken);
        return work.place(output, extension);
    }

    QStringList args;
    std::optional<double> duration;
    if (file.format && file.format->id == QLatin1String("gif")) {
        args << "-f" << "gif" << "-i" << mediaOperand(file.url);
    } else {
        const QUrl folder = frameFolder(work);
        const QString list = ImageFrames::writeFrameSequence(source, folder.toLocalFile(), context.stopToken);
        args << "-f" << "concat" << "-safe" << "0" << "-i" << ffmpegFileOperand(list);
        double total = 0;
        for (const ImageFrames::Frame& frame : ImageFrames::frames(source))
            total += frame.delay;
        if (total > 0)
            duration = total;
    }
    const QUrl output = work.workFile(extension);
    const std::optional<QSize> size = imagePixelSize(source);
    if (!size)
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"));
    args << imagesToVideoTargetArgs(target, *size) << mediaOperand(output);

    runMediaStep(args, duration, context, work);
    return work.place(output, extension);
}

} // namespace qv
