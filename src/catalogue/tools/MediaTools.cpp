#include "catalogue/tools/MediaTools.h"

#include "catalogue/adapters/MediaWorkAdapter.h"
#include "catalogue/lists/FileTests.h"
#include "catalogue/OperationFactories.h"
#include "engines/media/arguments/MediaFilters.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/operations/AudioExtraction.h"
#include "engines/media/operations/AudioReencode.h"
#include "engines/media/operations/MediaCompression.h"
#include "engines/media/operations/MediaCrop.h"
#include "engines/media/operations/MediaMerge.h"
#include "engines/media/operations/MediaResize.h"
#include "engines/media/operations/MediaReverse.h"
#include "engines/media/operations/MediaRingtone.h"
#include "engines/media/operations/MediaRotation.h"
#include "engines/media/operations/MediaSnapshot.h"
#include "engines/media/operations/MediaSpeed.h"
#include "engines/media/operations/MediaSplit.h"
#include "engines/media/operations/MediaStreamRemoval.h"
#include "engines/media/operations/MediaTrim.h"

namespace qv {

namespace {

using FileBody = std::function<QUrl(const FileInfo&, const OperationContext&, const MediaWork&)>;

struct Row {
    const char* name;
    const char* title;
    const char* symbol;
    OperationBehavior behavior;
    MultiFileMode multiFile;
    int minimumFiles;
    JobLane lane;
    const char* verb;
    QList<OptionField> optionFields;
    std::optional<QString> outputExtension;
};

OperationDescriptor tool(FileCategory category, const Row& row)
{
    OperationDescriptor d;
    d.id = QStringLiteral("tool.") + toString(category) + QLatin1Char('.') + QString::fromLatin1(row.name);
    d.wheel = WheelKind::tools;
    d.group = QString::fromLatin1(row.name);
    d.title = QString::fromLatin1(row.title);
    d.symbol = QString::fromLatin1(row.symbol);
    d.categories = {category};
    d.multiFile = row.multiFile;
    d.minimumFiles = row.minimumFiles;
    d.behavior = row.behavior;
    d.engine = EngineID::of(EngineID::Kind::ffmpeg);
    d.outputExtension = row.outputExtension;
    d.lane = row.lane;
    d.verb = QString::fromLatin1(row.verb);
    d.optionFields = row.optionFields;
    return d;
}

// A tool that makes one result from the first file of its item.
OperationDescriptor fileTool(FileCategory category, const Row& row, FileBody body)
{
    OperationDescriptor d = tool(category, row);
    d.make = blockFactory(singleOutputAdapter(
        [body = std::move(body)](const QUrl&, const OperationContext& context, OutputPlanner& planner,
                                 Progress& progress) {
            return body(context.files.first(), context, mediaWork(planner, progress));
        }));
    return d;
}

// A tool offered only for the files the test accepts.
OperationDescriptor onlyFor(OperationDescriptor d, bool (*test)(const FileInfo&))
{
    d.accepts = test;
    return d;
}

// A tool about a video's sound, not offered for a video known to have none.
OperationDescriptor soundTool(OperationDescriptor d)
{
    d.accepts = mayHoldSound;
    return d;
}

// Merge joins every file of its item, in the job's order.
OperationDescriptor mergeTool(FileCategory category)
{
    OperationDescriptor d = tool(category, {"merge", "Merge", "rectangle.stack.badge.plus", OperationBehavior::run(),
                                            MultiFileMode::combine, 2, JobLane::video, "Merging",
                                            {OptionField::mergeOrder}, std::nullopt});
    if (category == FileCategory::audio)
        d.lane = JobLane::audio;
    d.make = blockFactory([](const OperationContext& context, const QList<QUrl>& files, OutputPlanner& planner,
                             Progress& progress) {
        if (files.isEmpty())
            return QList<QUrl>();
        return QList<QUrl>{mergeMedia(context.files, context, mediaWork(planner, progress))};
    });
    return d;
}

OperationBehavior editor(EditorKind kind)
{
    return OperationBehavior::editorOf(kind);
}

const OperationBehavior run = OperationBehavior::run();
const OperationBehavior sheet = OperationBehavior::sheet();
constexpr MultiFileMode each = MultiFileMode::each;
constexpr MultiFileMode single = MultiFileMode::single;

QString suffix(const OperationContext& context, const char* word)
{
    return context.settings.suffixForOperation(QString::fromLatin1(word));
}

} // namespace

QStringList fadeFilters(const MediaInfo& info, const OperationOptions& options)
{
    return {fadeFilter(info.duration.value_or(0.0), options.fadeIn.value_or(2.0), options.fadeOut.value_or(3.0))};
}

QString sampleRateSuffix(int sampleRate)
{
    return QString::number(sampleRate / 1000) + QStringLiteral(" kHz");
}

const QList<OperationDescriptor>& videoTools()
{
    static const QList<OperationDescriptor> list = [] {
        const FileCategory v = FileCategory::video;
        const JobLane lane = JobLane::video;
        return QList<OperationDescriptor>{
            fileTool(v, {"compress", "Compress", "arrow.down.right.and.arrow.up.left", run, each, 1, lane,
                         "Compressing", {OptionField::compressPreset, OptionField::videoCodec,
                                         OptionField::maxResolution}, std::nullopt},
                     compressVideo),
            fileTool(v, {"trim", "Trim", "timeline.selection", editor(EditorKind::trim), single, 1, lane, "Trimming",
                         {}, std::nullopt},
                     trimMedia),
            fileTool(v, {"crop", "Crop", "crop", editor(EditorKind::crop), single, 1, lane, "Cropping", {},
                         std::nullopt},
                     cropVideo),
            fileTool(v, {"split", "Split", "scissors", editor(EditorKind::split), single, 1, lane, "Splitting", {},
                         std::nullopt},
                     splitMedia),
            soundTool(fileTool(v, {"mute", "Mute", "speaker.slash", run, each, 1, lane, "Removing sound", {},
                                   std::nullopt},
                               muteVideo)),
            fileTool(v, {"speed", "Speed", "gauge.with.dots.needle.67percent", sheet, each, 1, lane,
                         "Changing speed", {OptionField::speed}, std::nullopt},
                     changeSpeed),
            fileTool(v, {"snapshot", "Snapshot", "camera", run, each, 1, lane, "Taking a snapshot",
                         {OptionField::snapshotTime}, QStringLiteral("png")},
                     takeSnapshot),
            fileTool(v, {"removeMetadata", "Remove Meta", "eye.slash", run, each, 1, lane, "Removing metadata", {},
                         std::nullopt},
                     removeMediaMetadata),
            mergeTool(v),
            fileTool(v, {"rotate", "Rotate", "rotate.right", run, each, 1, lane, "Rotating", {OptionField::rotation},
                         std::nullopt},
                     rotateVideo),
            fileTool(v, {"resize", "Resize", "arrow.up.left.and.arrow.down.right", sheet, each, 1, lane, "Resizing",
                         {OptionField::maxResolution}, std::nullopt},
                     resizeVideo),
            soundTool(fileTool(v, {"extractAudio", "Extract Audio", "waveform", run, each, 1, JobLane::audio,
                                   "Extracting audio", {}, std::nullopt},
                               extractAudio)),
            fileTool(v, {"toGIF", "To GIF", "photo.stack", run, each, 1, lane, "Making a GIF", {},
                         QStringLiteral("gif")},
                     [](const FileInfo& file, const OperationContext& context, const MediaWork& work) {
                         return convertVideo(file, VideoTarget::gif, context, work);
                     }),
            fileTool(v, {"reverse", "Reverse", "backward", run, each, 1, lane, "Reversing", {}, std::nullopt},
                     reverseVideo),
        };
    }();
    return list;
}

const QList<OperationDescriptor>& audioTools()
{
    static const QList<OperationDescriptor> list = [] {
        const FileCategory a = FileCategory::audio;
        const JobLane lane = JobLane::audio;
        return QList<OperationDescriptor>{
            fileTool(a, {"compress", "Compress", "arrow.down.right.and.arrow.up.left", run, each, 1, lane,
                         "Compressing", {OptionField::compressPreset, OptionField::audioBitrate}, std::nullopt},
                     compressAudio),
            fileTool(a, {"trim", "Trim", "timeline.selection", editor(EditorKind::trim), single, 1, lane, "Trimming",
                         {}, std::nullopt},
                     trimMedia),
            fileTool(a, {"split", "Split", "scissors", editor(EditorKind::split), single, 1, lane, "Splitting", {},
                         std::nullopt},
                     splitMedia),
            mergeTool(a),
            fileTool(a, {"normalize", "Normalize", "waveform.badge.magnifyingglass", run, each, 1, lane,
                         "Normalizing loudness", {}, std::nullopt},
                     [](const FileInfo& file, const OperationContext& context, const MediaWork& work) {
                         return normalizeLoudness(file, suffix(context, "normalize"), context, work);
                     }),
            fileTool(a, {"speed", "Speed", "gauge.with.dots.needle.67percent", sheet, each, 1, lane,
                         "Changing speed", {OptionField::speed}, std::nullopt},
                     changeSpeed),
            fileTool(a, {"fade", "Fade", "waveform.path", sheet, each, 1, lane, "Adding fades", {OptionField::fade},
                         std::nullopt},
                     [](const FileInfo& file, const OperationContext& context, const MediaWork& work) {
                         const OperationOptions options = context.options;
                         return fadeAudio(file, suffix(context, "fade"), context, work,
                                          [options](const MediaInfo& info) { return fadeFilters(info, options); });
                     }),
            onlyFor(fileTool(a, {"removeMetadata", "Remove Meta", "eye.slash", run, each, 1, lane,
                                 "Removing metadata", {}, std::nullopt},
                             removeMediaMetadata),
                    soundContainerIsWritable),
            fileTool(a, {"mono", "Mono", "speaker.wave.1", run, each, 1, lane, "Mixing to mono", {}, std::nullopt},
                     [](const FileInfo& file, const OperationContext& context, const MediaWork& work) {
                         return makeMono(file, suffix(context, "mono"), context, work);
                     }),
            fileTool(a, {"ringtone", "Ringtone", "bell", editor(EditorKind::trim), single, 1, lane,
                         "Making a ringtone", {OptionField::ringtoneLength}, QStringLiteral("m4r")},
                     makeRingtone),
            fileTool(a, {"sampleRate", "Sample Rate", "dial.medium", sheet, each, 1, lane, "Resampling",
                         {OptionField::sampleRate}, std::nullopt},
                     [](const FileInfo& file, const OperationContext& context, const MediaWork& work) {
                         const int rate = context.options.sampleRate.value_or(44100);
                         return changeSampleRate(file, sampleRateSuffix(rate), context, work, rate);
                     }),
        };
    }();
    return list;
}

} // namespace qv
