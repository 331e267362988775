#include "catalogue/AllToolDescriptors.h"
#include "catalogue/AudioCatalogue.h"
#include "catalogue/ImageCatalogue.h"
#include "catalogue/VideoCatalogue.h"
#include "support/DescriptorLists.h"

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

namespace {

} // namespace

TEST(MediaCatalogue, ListsTheConversionsInWheelOrder)
{
    EXPECT_EQ(ids(videoDescriptors()).mid(0, 16),
              (QStringList{"convert.video.mp4", "convert.video.mov", "convert.video.webm", "convert.video.gif",
                           "convert.video.mp3", "convert.video.m4a", "convert.video.mkv", "convert.video.wav",
                           "convert.video.avi", "convert.video.webp", "convert.video.hevc", "convert.video.prores",
                           "convert.video.flac", "convert.video.ogg", "convert.video.opus", "convert.video.aiff"}));
    EXPECT_EQ(ids(audioDescriptors()).mid(0, 10),
              (QStringList{"convert.audio.mp3", "convert.audio.m4a", "convert.audio.wav", "convert.audio.flac",
                           "convert.audio.aiff", "convert.audio.ogg", "convert.audio.opus", "convert.audio.alac",
                           "convert.audio.caf", "convert.audio.m4r"}));

    // Images, then video, then audio, each with its tools, ahead of the archives.
    const QStringList all = ids(allToolDescriptors());
    const qsizetype images = imageDescriptors().size();
    EXPECT_EQ(all.indexOf("convert.video.mp4"), images);
    EXPECT_EQ(all.indexOf("convert.audio.mp3"), images + 30);
}

TEST(MediaCatalogue, EntriesCarryTheirContainerLaneAndChoices)
{
    const auto& video = videoDescriptors();
    const OperationDescriptor& hevc = byID(video, "convert.video.hevc");
    EXPECT_EQ(hevc.title, "HEVC");
    EXPECT_EQ(hevc.outputExtension, "mp4");
    EXPECT_EQ(hevc.lane, JobLane::video);
    EXPECT_EQ(hevc.optionFields.size(), 4);
    EXPECT_EQ(byID(video, "convert.video.prores").outputExtension, "mov");
    EXPECT_TRUE(byID(video, "convert.video.gif").optionFields.isEmpty());
    EXPECT_EQ(byID(video, "convert.video.wav").lane, JobLane::audio);
    EXPECT_EQ(byID(video, "convert.video.wav").optionFields, QList<OptionField>{OptionField::sampleRate});
    EXPECT_EQ(byID(video, "convert.video.mp3").verb, "Converting to MP3");

    const OperationDescriptor& alac = byID(audioDescriptors(), "convert.audio.alac");
    EXPECT_EQ(alac.outputExtension, "m4a");
    EXPECT_EQ(alac.title, "ALAC");
    EXPECT_EQ(byID(audioDescriptors(), "convert.audio.m4r").optionFields,
              (QList<OptionField>{OptionField::audioBitrate, OptionField::sampleRate}));

    FileInfo m4a;
    m4a.ext = "m4a";
    m4a.category = FileCategory::audio;
    EXPECT_TRUE(alac.accepts(m4a));
    EXPECT_FALSE(byID(audioDescriptors(), "convert.audio.m4a").accepts(m4a));
}
