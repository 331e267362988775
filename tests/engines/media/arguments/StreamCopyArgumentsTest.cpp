#include "engines/media/arguments/StreamCopyArguments.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

const QUrl in = QUrl::fromLocalFile("/in/clip.mov");
const QUrl out = QUrl::fromLocalFile("/out/clip.mov");
const QUrl pattern = QUrl::fromLocalFile("/out/clip %03d.mov");

} // namespace

TEST(StreamCopyArguments, Segments)
{
    EXPECT_EQ(segmentArgs(in, pattern, std::nullopt, std::nullopt, "mov", false),
              (QStringList{"-i", "file:/in/clip.mov", "-map", "0:V:0", "-map", "0:a?", "-map_chapters", "-1", "-c", "copy", "-f", "segment",
                           "-reset_timestamps", "1", "-segment_format", "mov", "-segment_time", "60.000",
                           "-segment_format_options", "movflags=+faststart", "file:/out/clip %03d.mov"}));
    EXPECT_EQ(segmentArgs(in, pattern, 12.34567, QList<double>{}, "matroska", false),
              (QStringList{"-i", "file:/in/clip.mov", "-map", "0:V:0", "-map", "0:a?", "-map_chapters", "-1", "-c", "copy", "-f", "segment",
                           "-reset_timestamps", "1", "-segment_format", "matroska", "-segment_time", "12.346",
                           "file:/out/clip %03d.mov"}));
    EXPECT_EQ(segmentArgs(in, pattern, -5, std::nullopt, "mp3", true),
              (QStringList{"-i", "file:/in/clip.mov", "-map", "0:a:0", "-vn", "-map_chapters", "-1", "-c", "copy", "-f", "segment",
                           "-reset_timestamps", "1", "-segment_format", "mp3", "-segment_time", "0.000",
                           "file:/out/clip %03d.mov"}));
    const QStringList times = segmentArgs(in, pattern, 30, QList<double>{90.5, 10, -1}, "ipod", true);
    EXPECT_EQ(times.mid(times.indexOf("ipod") + 1),
              (QStringList{"-segment_times", "90.500,10.000,0.000", "-segment_format_options", "movflags=+faststart",
                           "file:/out/clip %03d.mov"}));
}

TEST(StreamCopyArguments, TheProbedDemuxerIsNamedBeforeTheInput)
{
    const std::optional<QString> mp3 = QStringLiteral("mp3");
    EXPECT_EQ(segmentArgs(in, pattern, 5, std::nullopt, "mp3", true, mp3).mid(0, 4),
              (QStringList{"-f", "mp3", "-i", "file:/in/clip.mov"}));
    EXPECT_EQ(muteArgs(in, out, "mp4", mp3).mid(0, 4), (QStringList{"-f", "mp3", "-i", "file:/in/clip.mov"}));
    EXPECT_EQ(stripMetadataArgs(in, out, "mp3", true, mp3).mid(0, 4),
              (QStringList{"-f", "mp3", "-i", "file:/in/clip.mov"}));
    EXPECT_EQ(rotationMetadataArgs(in, out, 90, "mp4", QStringLiteral("mov")).mid(0, 4),
              (QStringList{"-f", "mov", "-i", "file:/in/clip.mov"}));
    EXPECT_EQ(frameGrabArgs(in, out, 1.5, QStringLiteral("mov")).mid(0, 6),
              (QStringList{"-ss", "1.500", "-f", "mov", "-i", "file:/in/clip.mov"}));
}

TEST(StreamCopyArguments, MuteAndStrip)
{
    EXPECT_EQ(muteArgs(in, out, "mp4"),
              (QStringList{"-i", "file:/in/clip.mov", "-map", "0:V", "-map", "0:s?", "-c", "copy", "-an", "-movflags",
                           "+faststart", "-f", "mp4", "file:/out/clip.mov"}));
    EXPECT_EQ(muteArgs(in, out, "matroska"),
              (QStringList{"-i", "file:/in/clip.mov", "-map", "0:V", "-map", "0:s?", "-c", "copy", "-an", "-f",
                           "matroska", "file:/out/clip.mov"}));
    EXPECT_EQ(muteArgs(in, out, "ipod").mid(9, 2), (QStringList{"-f", "ipod"}));

    const QStringList common{"-map_metadata", "-1", "-map_chapters", "-1", "-c", "copy", "-fflags", "+bitexact",
                             "-flags:v", "+bitexact", "-flags:a", "+bitexact"};
    EXPECT_EQ(stripMetadataArgs(in, out, "mov", false),
              QStringList({"-i", "file:/in/clip.mov", "-map", "0:V?", "-map", "0:a?", "-map", "0:s?"}) + common
                  + QStringList({"-movflags", "+faststart", "-f", "mov", "file:/out/clip.mov"}));
    EXPECT_EQ(stripMetadataArgs(in, out, "ipod", true),
              QStringList({"-i", "file:/in/clip.mov", "-map", "0:a"}) + common
                  + QStringList({"-movflags", "+faststart", "-f", "ipod", "file:/out/clip.mov"}));
    EXPECT_EQ(stripMetadataArgs(in, out, "flac", true),
              QStringList({"-i", "file:/in/clip.mov", "-map", "0:a"}) + common
                  + QStringList({"-f", "flac", "file:/out/clip.mov"}));
}

TEST(StreamCopyArguments, RotationMetadata)
{
    const QList<std::pair<int, int>> values{{90, 270}, {270, 90}, {180, 180}, {-90, 90}, {0, 0},
                                            {360, 0}, {450, 270}, {-270, 270}, {45, 315}};
    for (const auto& [degrees, value] : values)
        EXPECT_EQ(rotationMetadataArgs(in, out, degrees, "mp4"),
                  (QStringList{"-i", "file:/in/clip.mov", "-map", "0:V", "-map", "0:a?", "-map", "0:s?",
                               "-metadata:s:v:0", "rotate=" + QString::number(value), "-c", "copy", "-movflags",
                               "+faststart", "-f", "mp4", "file:/out/clip.mov"}))
            << degrees;
}

TEST(StreamCopyArguments, FrameGrab)
{
    const QUrl png = QUrl::fromLocalFile("/out/frame.png");
    EXPECT_EQ(frameGrabArgs(in, png, 1.23456),
              (QStringList{"-ss", "1.235", "-i", "file:/in/clip.mov", "-map", "0:V:0", "-frames:v", "1", "-update",
                           "1", "-f", "image2", "file:/out/frame.png"}));
    EXPECT_EQ(frameGrabArgs(in, png, -3)[1], "0.000");
}

TEST(StreamCopyArguments, ConcatList)
{
    EXPECT_EQ(concatList({}), "");
    EXPECT_EQ(concatList({QUrl::fromLocalFile("/a/one.mp4"), QUrl::fromLocalFile("/a/it's mine's.mp4")}),
              "file '/a/one.mp4'\nfile '/a/it'\\''s mine'\\''s.mp4'\n");
}
