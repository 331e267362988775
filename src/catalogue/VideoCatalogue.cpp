#include "catalogue/VideoCatalogue.h"

#include "catalogue/ConversionRecipe.h"
#include "catalogue/MediaWorkAdapter.h"

namespace qv {

OperationDescriptor makeVideoConversion(VideoTarget target)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::video};
    recipe.target = videoTargetLabel(target).toLower();
    recipe.title = videoTargetLabel(target);
    recipe.outputExtension = videoTargetFileExtension(target);
    recipe.engine = EngineID::of(EngineID::Kind::ffmpeg);
    recipe.lane = JobLane::video;
    if (target != VideoTarget::gif && target != VideoTarget::webp)
        recipe.optionFields = {OptionField::videoPreset, OptionField::videoCodec, OptionField::maxResolution,
                               OptionField::audioBitrate};
    recipe.run = singleOutputAdapter(
        [target](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return convertVideo(context.files.first(), target, context, mediaWork(planner, progress));
        });
    return makeConversionDescriptor(recipe);
}

OperationDescriptor makeVideoAudioConversion(AudioTarget target)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::video};
    recipe.target = audioTargetRawValue(target);
    recipe.title = recipe.target.toUpper();
    recipe.outputExtension = audioTargetFileExtension(target);
    recipe.engine = EngineID::of(EngineID::Kind::ffmpeg);
    recipe.lane = JobLane::audio;
    recipe.optionFields = audioTargetIsLossless(target)
        ? QList<OptionField>{OptionField::sampleRate}
        : QList<OptionField>{OptionField::audioBitrate, OptionField::sampleRate};
    recipe.run = singleOutputAdapter(
        [target](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return convertAudio(context.files.first(), target, context, mediaWork(planner, progress));
        });
    return makeConversionDescriptor(recipe);
}

const QList<OperationDescriptor>& videoDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        using V = VideoTarget;
        using A = AudioTarget;
        return QList<OperationDescriptor>{
            makeVideoConversion(V::mp4),       makeVideoConversion(V::mov),
            makeVideoConversion(V::webm),      makeVideoConversion(V::gif),
            makeVideoAudioConversion(A::mp3),  makeVideoAudioConversion(A::m4a),
            makeVideoConversion(V::mkv),       makeVideoAudioConversion(A::wav),
            makeVideoConversion(V::avi),       makeVideoConversion(V::webp),
            makeVideoConversion(V::hevc),      makeVideoConversion(V::prores),
            makeVideoAudioConversion(A::flac), makeVideoAudioConversion(A::ogg),
            makeVideoAudioConversion(A::opus), makeVideoAudioConversion(A::aiff),
        };
    }();
    return list;
}

} // namespace qv
