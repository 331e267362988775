#include "engines/media/operations/AudioReencode.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/MediaFilters.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "model/operations/JobNotes.h"

namespace qv {

namespace {

// Runs the shared shape into a work file; returns it with its extension, unplaced.
std::pair<QUrl, QString> encode(const FileInfo& file, const OperationContext& context, const MediaWork& work,
                                std::optional<AudioTarget> given,
                                const std::function<QStringList(const MediaInfo&)>& extra)
{
    MediaInfo info = probeMediaInput(file, context, work);
    requireAudio(info);
    const AudioTarget target = given.value_or(audioTargetForFile(file));
    const QString extension = audioTargetFileExtension(target);
    const QUrl output = work.workFile(extension);
    QStringList args = mediaInput(file.url, info);
    leaveOutDamagedCovers(file.url, info, target, context, work);
    args << audioReencodeArgs(info, target, context);
    if (extra)
        args << extra(info);
    args << "-f" << audioTargetMuxer(target) << mediaOperand(output);
    runMediaStep(args, info.duration, context, work);
    return {output, extension};
}

} // namespace

QUrl reencodeAudio(const FileInfo& file, const QString& suffix, const OperationContext& context,
                   const MediaWork& work, std::optional<AudioTarget> target,
                   const std::function<QStringList(const MediaInfo&)>& extra)
{
    const auto [output, extension] = encode(file, context, work, target, extra);
    return placeWithSuffix(work, output, suffix, extension);
}

QUrl normalizeLoudness(const FileInfo& file, const QString& suffix, const OperationContext& context,
                       const MediaWork& work)
{
    // The filter works at 192 kHz; the result goes back to the source's own rate, whatever the
    // rate setting says, fitted to what the encoder takes (AAC stops at 96 kHz, where a DSD file
    // decodes at 352.8).
    const AudioTarget target = audioTargetForFile(file);
    return reencodeAudio(file, suffix, context, work, target, [target](const MediaInfo& info) {
        const LoudnessFilter loudness = loudnormFilter(audioKeptSampleRate(target, info.audio));
        return QStringList{"-af", loudness.filter} + loudness.extraArguments;
    });
}

QUrl fadeAudio(const FileInfo& file, const QString& suffix, const OperationContext& context, const MediaWork& work,
               const std::function<QStringList(const MediaInfo&)>& filters)
{
    return reencodeAudio(file, suffix, context, work, std::nullopt, [&filters](const MediaInfo& info) {
        const QStringList list = filters ? filters(info) : QStringList();
        return list.isEmpty() ? QStringList() : QStringList{"-af", list.join(QLatin1Char(','))};
    });
}

QUrl makeMono(const FileInfo& file, const QString& suffix, const OperationContext& context, const MediaWork& work)
{
    return reencodeAudio(file, suffix, context, work, std::nullopt,
                         // After the layout a target may name for the source's channels: the last wins.
                         [](const MediaInfo&) { return QStringList{"-ac", "1", "-channel_layout", "mono"}; });
}

QUrl changeSampleRate(const FileInfo& file, const QString& suffix, const OperationContext& context,
                      const MediaWork& work, int sampleRate)
{
    // The rate is the point here: a format that cannot hold it gives way to one that can.
    const AudioTarget own = audioTargetForFile(file);
    std::optional<AudioTarget> target;
    if (sampleRate >= 1 && audioTargetSampleRate(own, sampleRate) != sampleRate) {
        target = audioTargetSampleRate(AudioTarget::m4a, sampleRate) == sampleRate ? AudioTarget::m4a
                                                                                    : AudioTarget::flac;
        if (context.notes)
            context.notes->addMessage(audioTargetRawValue(own).toUpper() + QStringLiteral(" can't hold ")
                                      + kilohertzText(sampleRate) + QStringLiteral(": saved as ")
                                      + audioTargetRawValue(*target).toUpper());
    }
    OperationContext resampled = context;
    resampled.options.sampleRate = sampleRate;
    return reencodeAudio(file, suffix, resampled, work, target);
}

QUrl compressAudio(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    int kilobits = 128;
    if (context.options.audioBitrate) {
        kilobits = *context.options.audioBitrate;
    } else {
        switch (context.options.videoPreset.value_or(QualityPreset::medium)) {
        case QualityPreset::small: kilobits = 96; break;
        case QualityPreset::medium: kilobits = 128; break;
        case QualityPreset::high: kilobits = 192; break;
        }
    }
    OperationContext compressed = context;
    compressed.options.audioBitrate = kilobits;
    const AudioTarget own = audioTargetForFile(file);
    const bool kept = own == AudioTarget::mp3 || own == AudioTarget::m4a || own == AudioTarget::ogg
                   || own == AudioTarget::opus;
    const auto [output, extension] = encode(file, compressed, work, kept ? own : AudioTarget::m4a, {});
    // Judged in the work folder, so a result that is not smaller is never placed.
    checkCompressed(output, file, context);
    return placeWithSuffix(work, output, context.settings.suffixForOperation(QStringLiteral("compress")), extension);
}

} // namespace qv
