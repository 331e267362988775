#include "editors/media/MediaEditorLayout.h"
#include "editors/media/MediaTimeline.h"
#include "editors/media/TimeLabel.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

using namespace qv;

namespace {

QJsonObject encoded(const OperationOptions& options)
{
    return QJsonDocument::fromJson(encodeOperationOptions(options).value_or(QByteArray())).object();
}

} // namespace

TEST(TimeLabel, TruncatesEveryDigitAndSwitchesToHoursAtAnHour)
{
    EXPECT_EQ(timeLabel(59.99), "0:59");
    EXPECT_EQ(timeLabel(59.99, true), "0:59.9");
    EXPECT_EQ(timeLabel(65.95, true), "1:05.9");
    EXPECT_EQ(timeLabel(3600), "1:00:00");
    EXPECT_EQ(timeLabel(3725), "1:02:05");
    EXPECT_EQ(timeLabel(7200), "2:00:00");
    EXPECT_EQ(timeLabel(1.25, true), "0:01.2");
}

TEST(TimeLabel, NegativeNonFiniteAndHugeValuesNeitherOverflowNorMislead)
{
    EXPECT_EQ(timeLabel(-3), "0:00");
    EXPECT_EQ(timeLabel(-3, true), "0:00.0");
    EXPECT_EQ(timeLabel(std::numeric_limits<double>::infinity()), "0:00");
    EXPECT_EQ(timeLabel(std::numeric_limits<double>::quiet_NaN(), true), "0:00.0");
    // A damaged file's duration: clamped to 10^9 s, counted in 64 bits.
    EXPECT_EQ(timeLabel(1e300), "277777:46:40");
    EXPECT_EQ(timeLabel(3e9), "277777:46:40");
}

TEST(MediaEditorLayout, FitsThePictureAndCountsFilmstripSlots)
{
    const MediaEditorLayout wide = MediaEditorLayout::forPicture(QSizeF(1920, 1080));
    EXPECT_EQ(wide.pictureSize, QSize(720, 405));
    EXPECT_EQ(wide.width, 720);
    EXPECT_EQ(wide.thumbnailCount, 8);

    const MediaEditorLayout portrait = MediaEditorLayout::forPicture(QSizeF(600, 1000));
    EXPECT_EQ(portrait.pictureSize, QSize(264, 440));
    EXPECT_EQ(portrait.width, 560);
    EXPECT_EQ(portrait.thumbnailCount, 19);

    const MediaEditorLayout panorama = MediaEditorLayout::forPicture(QSizeF(4000, 500));
    EXPECT_EQ(panorama.pictureSize, QSize(720, 90));
    EXPECT_EQ(panorama.thumbnailCount, 4);

    const MediaEditorLayout clip = MediaEditorLayout::forPicture(QSizeF(1280, 720));
    EXPECT_EQ(clip.pictureSize, QSize(720, 405));

    const MediaEditorLayout sound = MediaEditorLayout::forPicture(std::nullopt);
    EXPECT_FALSE(sound.pictureSize);
    EXPECT_EQ(sound.width, 560);
    EXPECT_EQ(sound.thumbnailCount, 0);
    EXPECT_FALSE(MediaEditorLayout::forPicture(QSizeF(0, 480)).pictureSize);
}

TEST(MediaTimeline, StartsWithTheWholeFileOrTheFirstFortySecondsOfARingtone)
{
    const MediaTimeline longTone(90, false, 40.0);
    EXPECT_EQ(longTone.start(), 0);
    EXPECT_EQ(longTone.end(), 40);
    const MediaTimeline shortTone(25, false, 40.0);
    EXPECT_EQ(shortTone.end(), 25);
    EXPECT_EQ(MediaTimeline(1, true, std::nullopt).minimumLength, 0.25);
    EXPECT_EQ(MediaTimeline(10, true, std::nullopt).minimumLength, 0.5);

    MediaTimeline trim(10, true, std::nullopt);
    EXPECT_TRUE(trim.coversWholeFile());
    trim.setEnd(9.9);
    EXPECT_FALSE(trim.coversWholeFile());
    trim.setStart(2);
    trim.setEnd(7.5);
    EXPECT_EQ(encoded(trim.trimOptions()), (QJsonObject{{"trimStart", 2.0}, {"trimEnd", 7.5}}));
}

TEST(MediaTimeline, SplitPointsKeepClearOfTheEndsAndOfEachOther)
{
    MediaTimeline timeline(10, true, std::nullopt);
    int beeps = 0;
    timeline.beep = [&beeps] { ++beeps; };
    EXPECT_FALSE(timeline.canApplySplit());
    for (double t : {0.1, 9.85, 6.0, 3.0, 3.2, 5.8}) {
        timeline.setTime(t);
        timeline.addMarkerAtPlayhead();
    }
    EXPECT_EQ(timeline.markers(), (QList<double>{3.0, 6.0}));
    EXPECT_EQ(beeps, 4);
    EXPECT_TRUE(timeline.canApplySplit());
    const QJsonObject at = encoded(timeline.splitOptions());
    EXPECT_EQ(QJsonDocument(at).toJson(QJsonDocument::Compact), R"({"split":{"at":{"_0":[3,6]}}})");

    timeline.setSplitMode(MediaTimeline::equalParts);
    EXPECT_EQ(QJsonDocument(encoded(timeline.splitOptions())).toJson(QJsonDocument::Compact),
              R"({"split":{"parts":{"_0":2}}})");
    timeline.setSplitMode(MediaTimeline::everySeconds);
    EXPECT_EQ(timeline.splitOptions().split, SplitMode::every(60));
    // Points stay in the model while another plan is chosen.
    EXPECT_EQ(timeline.markers().size(), 2);
}
