#include "catalogue/lists/AudioCatalogue.h"

#include "catalogue/adapters/MediaWorkAdapter.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "catalogue/tools/MediaTools.h"

namespace qv {

OperationDescriptor makeAudioConversion(AudioTarget target, FileCategory from)
{
    ConversionRecipe recipe;
    recipe.categories = {from};
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

const QList<OperationDescriptor>& audioDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        QList<OperationDescriptor> all;
        using A = AudioTarget;
        for (A target : {A::mp3, A::m4a, A::wav, A::flac, A::aiff, A::ogg, A::opus, A::alac, A::caf, A::m4r})
            all.append(makeAudioConversion(target));
        return all + audioTools();
    }();
    return list;
}

} // namespace qv
