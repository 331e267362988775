#include "catalogue/lists/AnimatedImageCatalogue.h"

#include "catalogue/adapters/MediaWorkAdapter.h"
#include "catalogue/lists/FileTests.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "engines/media/operations/ImagesToVideo.h"

namespace qv {

namespace {

// The item's own FileInfo, which knows the format; read afresh only when the context lacks it.
FileInfo fileFor(const QUrl& url, const OperationContext& context)
{
    for (const FileInfo& file : context.files)
        if (file.url == url)
            return file;
    return fileInfoForURL(url);
}

OperationDescriptor videoConversion(VideoTarget target)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::image};
    recipe.target = videoTargetFileExtension(target);
    recipe.title = recipe.target.toUpper();
    recipe.engine = EngineID::of(EngineID::Kind::ffmpeg);
    recipe.lane = JobLane::cpu;
    recipe.extraTest = isAnimated;
    OperationDescriptor descriptor = makeConversionDescriptor(recipe);
    descriptor.make = blockFactory(singleOutputAdapter(
        [target](const QUrl& url, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return imagesToVideo(fileFor(url, context), target, context, mediaWork(planner, progress));
        }));
    return descriptor;
}

} // namespace

QList<OperationDescriptor> animatedImageVideoConversions()
{
    return {videoConversion(VideoTarget::mp4), videoConversion(VideoTarget::webm)};
}

bool takesAnimatedWebPRoad(const FileInfo& file)
{
    return file.frameCount >= 2 && file.format && file.format->id == QLatin1String("gif");
}

QUrl convertAnimatedGIFToWebP(const FileInfo& file, const OperationContext& context,
                              OutputPlanner& planner, Progress& progress)
{
    return imagesToVideo(file, VideoTarget::webp, context, mediaWork(planner, progress));
}

} // namespace qv
