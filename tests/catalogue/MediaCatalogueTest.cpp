#include "catalogue/lists/AudioCatalogue.h"
#include "catalogue/lists/ImageCatalogue.h"
#include "catalogue/lists/VideoCatalogue.h"
#include "catalogue/tools/AllToolDescriptors.h"
#include "model/operations/Capabilities.h"
#include "support/DescriptorLists.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

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

TEST(MediaCatalogue, ASilentVideoIsNotOfferedWhatNeedsItsSound)
{
    ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the test needs ffmpeg";
    QTemporaryDir dir;
    const auto make = [&dir](const QString& name, QStringList arguments) {
        const QString path = dir.filePath(name);
        EXPECT_EQ(runProgram("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                                   "testsrc=size=64x48:rate=5:duration=1"}
                                           + arguments + QStringList{"file:" + path}),
                  0);
        return fileInfoForURL(QUrl::fromLocalFile(path));
    };
    const FileInfo silentMP4 = make("silent.mp4", {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    // A name that tells the category is looked into all the same.
    const FileInfo silentAVI = make("silent.avi", {"-c:v", "mpeg4"});
    const FileInfo voiced = make("voiced.mkv", {"-f", "lavfi", "-i", "sine=duration=1", "-c:v", "mpeg4",
                                                "-c:a", "flac", "-shortest"});
    EXPECT_EQ(silentMP4.hasAudio, false);
    EXPECT_EQ(silentAVI.hasAudio, false);
    EXPECT_EQ(voiced.hasAudio, true);
    EXPECT_EQ(voiced.category, FileCategory::video);
    // Nothing to look into: the entries stay, and the engine decides.
    FileInfo unknown = silentMP4;
    unknown.hasAudio.reset();

    const QStringList needSound{"convert.video.mp3",  "convert.video.m4a",  "convert.video.wav",
                                "convert.video.flac", "convert.video.ogg",  "convert.video.opus",
                                "convert.video.aiff", "tool.video.extractAudio", "tool.video.mute"};
    const auto offered = [](const FileInfo& file) {
        QStringList list;
        for (const OperationDescriptor& d : videoDescriptors())
            if (d.applies({file}))
                list.append(d.id);
        return list;
    };
    for (const FileInfo& silent : {silentMP4, silentAVI}) {
        const QStringList list = offered(silent);
        for (const QString& id : needSound)
            EXPECT_FALSE(list.contains(id)) << qPrintable(silent.name) << " " << qPrintable(id);
        // What works without sound is still there.
        for (const char* id : {"convert.video.mov", "convert.video.gif", "tool.video.speed", "tool.video.trim",
                               "tool.video.reverse", "tool.video.snapshot"})
            EXPECT_TRUE(list.contains(id)) << qPrintable(silent.name) << " " << id;
    }
    for (const FileInfo& file : {voiced, unknown}) {
        const QStringList list = offered(file);
        for (const QString& id : needSound)
            EXPECT_TRUE(list.contains(id)) << qPrintable(file.name) << " " << qPrintable(id);
    }
    // A silent video with a voiced one: the entry must suit every file.
    EXPECT_FALSE(byID(videoDescriptors(), "tool.video.extractAudio").applies({voiced, silentMP4}));
    EXPECT_FALSE(byID(videoDescriptors(), "convert.video.mp3").applies({voiced, silentMP4}));
}
