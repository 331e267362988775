#include "engines/media/operations/MediaStreamRemoval.h"

#include "engines/media/arguments/StreamCopyArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "engines/media/operations/OggTagStripper.h"
#include "engines/media/probe/MediaProbe.h"
#include "engines/media/probe/AsfFileProperties.h"
#include "engines/media/probe/MpegAudioFrames.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/Capabilities.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cerrno>

namespace qv {

QUrl muteVideo(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    requireVideo(info);
    const QUrl output = work.workFile(file.ext);
    runMediaCopyStep(muteArgs(file.url, output, muxerForFile(file), info.demuxer), movieBoxRoom({file.url}), info.duration,
                     context, work);
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("mute")), file.ext);
}

QUrl removeMediaMetadata(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    const MediaInfo info = probeMediaInput(file, context, work);
    // Copied packets are never decoded: damage in a sound's frames would pass into its copy.
    if (file.category == FileCategory::audio && info.audio)
        requireSoundDecodes(file.url, info, context, work);
    const QUrl output = work.workFile(file.ext);
    QString muxer = muxerForFile(file);
    // The iPod flavour of MP4 holds AAC, ALAC and Dolby sound only; FLAC, Opus and MP3 go into
    // plain MP4 under the same name.
    static const QStringList ipodCodecs{"aac", "alac", "ac3", "eac3"};
    if (muxer == QLatin1String("ipod") && info.audio && !ipodCodecs.contains(info.audio->codec))
        muxer = QStringLiteral("mp4");
    QStringList arguments =
        stripMetadataArgs(file.url, output, muxer, file.category == FileCategory::audio, info.demuxer);
    // FFmpeg calls FLAC in MP4 experimental, though players read it.
    if (muxer == QLatin1String("mp4") && info.audio && info.audio->codec == QLatin1String("flac")) {
        const qsizetype format = arguments.lastIndexOf(QStringLiteral("-f"));
        arguments.insert(format, QStringLiteral("-2"));
        arguments.insert(format, QStringLiteral("-strict"));
    }
    try {
        runMediaCopyStep(arguments, movieBoxRoom({file.url}), info.duration, context, work);
    } catch (const EngineError& error) {
        // FFmpeg's Ogg muxer turns a last packet trimmed at its end into hours of sound, and its
        // own check refuses that copy: the pages are copied here instead, and held to the same check.
        const bool oggSound = (muxer == QLatin1String("ogg") || muxer == QLatin1String("opus")) && info.audio && !info.video
            && (info.audio->codec == QLatin1String("vorbis") || info.audio->codec == QLatin1String("opus"));
        if (!oggSound || error.message() != QLatin1String("Conversion failed"))
            throw;
        QFile::remove(output.toLocalFile());
        if (!OggTagStripper::write(file.path(), output.toLocalFile()))
            throw;
        const MediaInfo copied = probeMediaInfo(work.ffmpeg ? *work.ffmpeg : Capabilities::shared().ffmpegURL(),
                                                output, context.stopToken);
        if (!copied.audio || copied.audio->codec != info.audio->codec || !copied.duration || !info.duration
            || std::abs(*copied.duration - *info.duration) > 0.001) {
            QFile::remove(output.toLocalFile());
            throw;
        }
    }
    if (muxer == QLatin1String("asf") && info.audio) {
        // The muxer states the length from the last packet's time and duration, which a copied
        // WMA Lossless packet lacks: its header fell short of the sound by that packet.
        const std::optional<double> stated = AsfFileProperties::playSeconds(output.toLocalFile());
        const std::optional<double> decoded = decodedSoundSeconds(output, context, work);
        if (stated && decoded && *decoded > *stated + 0.02)
            AsfFileProperties::setPlaySeconds(output.toLocalFile(), *decoded);
    }
    if (muxer == QLatin1String("mp3")) {
        // FFmpeg copies what follows the last frame with it: an ID3v1 or APE tag behind a
        // recorder's junk stayed, names and all, and so did one behind a frame cut short.
        qint64 end = MpegAudioFrames::endTagsStart(output.toLocalFile());
        if (const std::optional<qint64> trailer = MpegAudioFrames::trailerStart(output.toLocalFile()))
            end = std::min(end, *trailer);
        QFile result(output.toLocalFile());
        if (end < result.size() && !result.resize(end))
            throw SystemError::fromErrno(EIO, QStringLiteral("Cannot write ") + output.toLocalFile());
    }
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("removeMetadata")),
                           file.ext);
}

} // namespace qv
