#include "catalogue/lists/VideoCatalogue.h"

#include "catalogue/adapters/MediaWorkAdapter.h"
#include "catalogue/lists/AudioCatalogue.h"
#include "catalogue/lists/FileTests.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "catalogue/tools/MediaTools.h"

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

const QList<OperationDescriptor>& videoDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        using V = VideoTarget;
        using A = AudioTarget;
        // A video's sound as an audio file: not offered for a video known to be silent.
        const auto sound = [](A target) {
            OperationDescriptor d = makeAudioConversion(target, FileCategory::video);
            d.accepts = [accepts = d.accepts](const FileInfo& file) { return mayHoldSound(file) && accepts(file); };
            return d;
        };
        return QList<OperationDescriptor>{
            makeVideoConversion(V::mp4), makeVideoConversion(V::mov),
            makeVideoConversion(V::webm), makeVideoConversion(V::gif),
            sound(A::mp3), sound(A::m4a),
            makeVideoConversion(V::mkv), sound(A::wav),
            makeVideoConversion(V::avi), makeVideoConversion(V::webp),
            makeVideoConversion(V::hevc), makeVideoConversion(V::prores),
            sound(A::flac), sound(A::ogg),
            sound(A::opus), sound(A::aiff),
        } + videoTools();
    }();
    return list;
}

} // namespace qv
