#include "catalogue/lists/AudioCatalogue.h"
#include "catalogue/lists/VideoCatalogue.h"
#include "catalogue/tools/MediaTools.h"
#include "support/DescriptorLists.h"

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

namespace {

const OperationDescriptor& byID(const QString& id)
{
    for (const auto* list : {&videoDescriptors(), &audioDescriptors()})
        for (const OperationDescriptor& d : *list)
            if (d.id == id)
                return d;
    throw std::runtime_error("no " + id.toStdString());
}

} // namespace

TEST(MediaTools, VideoAndSoundListTheirToolsAfterTheConversions)
{
    EXPECT_EQ(ids(videoDescriptors()).mid(16),
              (QStringList{"tool.video.compress", "tool.video.trim", "tool.video.crop", "tool.video.split",
                           "tool.video.mute", "tool.video.speed", "tool.video.snapshot", "tool.video.removeMetadata",
                           "tool.video.merge", "tool.video.rotate", "tool.video.resize", "tool.video.extractAudio",
                           "tool.video.toGIF", "tool.video.reverse"}));
    EXPECT_EQ(ids(audioDescriptors()).mid(10),
              (QStringList{"tool.audio.compress", "tool.audio.trim", "tool.audio.split", "tool.audio.merge",
                           "tool.audio.normalize", "tool.audio.speed", "tool.audio.fade",
                           "tool.audio.removeMetadata", "tool.audio.mono", "tool.audio.ringtone",
                           "tool.audio.sampleRate"}));
    for (const auto* list : {&videoDescriptors(), &audioDescriptors()})
        for (const OperationDescriptor& d : *list) {
            EXPECT_TRUE(d.make) << d.id.toStdString();
            EXPECT_EQ(d.engine, EngineID::of(EngineID::Kind::ffmpeg));
        }
}

TEST(MediaTools, EditorsSheetsAndMergeAreMarkedAsSuch)
{
    EXPECT_EQ(byID("tool.video.trim").behavior, OperationBehavior::editorOf(EditorKind::trim));
    EXPECT_EQ(byID("tool.video.crop").behavior, OperationBehavior::editorOf(EditorKind::crop));
    EXPECT_EQ(byID("tool.audio.split").behavior, OperationBehavior::editorOf(EditorKind::split));
    EXPECT_EQ(byID("tool.audio.ringtone").behavior, OperationBehavior::editorOf(EditorKind::trim));
    EXPECT_EQ(byID("tool.audio.ringtone").outputExtension, "m4r");
    EXPECT_EQ(byID("tool.video.trim").multiFile, MultiFileMode::single);
    for (const char* id : {"tool.video.speed", "tool.video.resize", "tool.audio.fade", "tool.audio.sampleRate"})
        EXPECT_EQ(byID(id).behavior, OperationBehavior::sheet()) << id;

    const OperationDescriptor& merge = byID("tool.video.merge");
    EXPECT_EQ(merge.multiFile, MultiFileMode::combine);
    EXPECT_EQ(merge.minimumFiles, 2);
    EXPECT_EQ(merge.optionFields, QList<OptionField>{OptionField::mergeOrder});
    EXPECT_EQ(byID("tool.audio.merge").lane, JobLane::audio);
    EXPECT_EQ(byID("tool.video.extractAudio").lane, JobLane::audio);
    EXPECT_EQ(byID("tool.video.removeMetadata").title, "Remove Meta");
    EXPECT_EQ(byID("tool.video.snapshot").outputExtension, "png");
    EXPECT_EQ(byID("tool.video.compress").optionFields,
              (QList<OptionField>{OptionField::compressPreset, OptionField::videoCodec, OptionField::maxResolution}));
}

TEST(MediaTools, FadeWithoutALengthFadesInOnly)
{
    MediaInfo known;
    known.duration = 10.0;
    OperationOptions none;
    EXPECT_EQ(fadeFilters(known, none), QStringList{"afade=t=in:st=0:d=2,afade=t=out:st=7:d=3"});
    // Fading out from 0 would leave the whole file silent after three seconds.
    EXPECT_EQ(fadeFilters(MediaInfo{}, none), QStringList{"afade=t=in:st=0:d=2"});
    OperationOptions outOnly;
    outOnly.fadeIn = 0.0;
    EXPECT_EQ(fadeFilters(MediaInfo{}, outOnly), QStringList{"anull"});
}

TEST(MediaTools, SampleRateSuffixIsWholeKilohertz)
{
    EXPECT_EQ(sampleRateSuffix(44100), "44 kHz");
    EXPECT_EQ(sampleRateSuffix(48000), "48 kHz");
    EXPECT_EQ(sampleRateSuffix(22050), "22 kHz");
}
