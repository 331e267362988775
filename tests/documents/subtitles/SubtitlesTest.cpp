#include "documents/subtitles/Subtitles.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;

TEST(SubtitleTimestamps, ReadClockAndMinuteForms)
{
    EXPECT_EQ(parseTimestamp(u"00:00:01,500"), 1.5);
    EXPECT_EQ(parseTimestamp(u"00:00:01.500"), 1.5);
    EXPECT_EQ(parseTimestamp(u"01:02.5"), 62.5);
    EXPECT_EQ(parseTimestamp(u" \t1:01:01.50\t"), 3661.5);
    EXPECT_EQ(parseTimestamp(u"0:1:75"), 135.0); // ranges are not checked
    EXPECT_FALSE(parseTimestamp(u"1:2:3:4"));
    EXPECT_FALSE(parseTimestamp(u"12"));
    EXPECT_FALSE(parseTimestamp(u"aa:bb"));
    EXPECT_FALSE(parseTimestamp(u"00: 01"));
}

TEST(SubtitleTimestamps, RefuseTimesThatCannotBeWrittenOrSorted)
{
    EXPECT_FALSE(parseTimestamp(u"00:00:nan"));
    EXPECT_FALSE(parseTimestamp(u"00:00:inf"));
    EXPECT_FALSE(parseTimestamp(u"00:00:1e300"));
    EXPECT_FALSE(parseTimestamp(u"00:00:1e999"));
    EXPECT_FALSE(parseTimestamp(u"-1:00"));
    EXPECT_FALSE(parseTimestamp(u"100000:00:00")); // 360,000,000 s
    EXPECT_EQ(parseTimestamp(u"99999:59:59"), 359999999.0);
}

TEST(SubtitleBlocks, SkipWhatIsNotACue)
{
    const QString text = QStringLiteral(
        "WEBVTT\n\nNOTE a note\n\n"
        "intro\n00:00:05.000 --> 00:00:06.000 align:start position:10%\n<i>Hello</i>\n\n"
        "2\n00:00:03,000 --> 00:00:02,000\nBackwards\n\n"
        "3\n00:00:07,000 --> 00:00:08,000\n\n"
        "4\n00:00:09,000 --> 00:00:nan\nBroken\n\n"
        "5\n00:00:01,000 --> 00:00:02,000 --> 00:00:03,000\nTwo arrows\n\n"
        "6\n00:00:01,000 --> 00:00:02,000\n  line one\nline two  \n");
    const QList<SubtitleCue> cues = parseCueBlocks(text);
    ASSERT_EQ(cues.size(), 3);
    EXPECT_EQ(cues[0], (SubtitleCue{1, 2, QStringLiteral("line one\nline two")}));
    EXPECT_EQ(cues[1], (SubtitleCue{3, 3, QStringLiteral("Backwards")}));
    EXPECT_EQ(cues[2], (SubtitleCue{5, 6, QStringLiteral("<i>Hello</i>")}));
}

TEST(SubtitleBlocks, AssEventsFollowTheirFormatLine)
{
    const QString withoutFormat = QStringLiteral(
        "[Script Info]\nTitle: x\n\n[Events]\n"
        "Comment: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,skip\n"
        "Dialogue: 0,0:00:02.00,0:00:03.50,Default,,0,0,0,,{\\b1}Hi,{\\i1} there\\Nnext\\hline\n"
        "Dialogue: 0,0:00:01.00,0:00:01.50,Default,,0,0,0,,{\\pos(1,2)}\n"
        "Dialogue: 0,0:00:01.00,0:00:nan,Default,,0,0,0,,bad time\n"
        "Dialogue: 0,0:00:01.00\n");
    const QList<SubtitleCue> cues = parseASSEvents(withoutFormat);
    ASSERT_EQ(cues.size(), 1);
    EXPECT_EQ(cues[0], (SubtitleCue{2, 3.5, QStringLiteral("Hi, there\nnext line")}));

    const QString reordered = QStringLiteral(
        "[Events]\nFormat: End, Start, Text\n"
        "Dialogue: 0:00:04.00,0:00:03.00,a, b\n[Other]\nDialogue: 0:00:09.00,0:00:08.00,x\n");
    EXPECT_EQ(parseASSEvents(reordered), (QList<SubtitleCue>{{3, 4, QStringLiteral("a, b")}}));
}

TEST(SubtitleFiles, WindowsLineEndsAndAByteOrderMarkLeaveTheFirstCueIntact)
{
    QTemporaryDir dir;
    const QString path = test::writeFile(dir.filePath("Movie.srt"),
        "\xEF\xBB\xBF" "1\r\n00:00:01,000 --> 00:00:03,000\r\nFirst\r\n\r\n"
        "2\r\n00:00:00,500 --> 00:00:01,500\r\nEarlier\r\n");
    const LoadedSubtitles loaded = loadSubtitles(path);
    EXPECT_EQ(loaded.format, SubtitleFormat::srt);
    ASSERT_EQ(loaded.cues.size(), 2);
    EXPECT_EQ(loaded.cues[0].text, "Earlier");
    EXPECT_EQ(loaded.cues[1], (SubtitleCue{1, 3, QStringLiteral("First")}));

    // Latin-1 text is read as Windows-1252.
    const QString western = test::writeFile(dir.filePath("w.webvtt"),
                                            "WEBVTT\n\n00:01.000 --> 00:02.000\nCaf\xE9 \x80\n");
    const LoadedSubtitles vtt = loadSubtitles(western);
    EXPECT_EQ(vtt.format, SubtitleFormat::vtt);
    EXPECT_EQ(vtt.cues.first().text, QString::fromUtf8("Café €"));
}

TEST(SubtitleFiles, TextWithoutCuesIsRefused)
{
    QTemporaryDir dir;
    for (const char* name : {"notes.txt", "empty.srt", "garbage.ass"}) {
        const QString path = test::writeFile(dir.filePath(name), "1\n00:00:01,000 --> 00:00:02,000\nHi\n");
        if (QByteArray(name) == "empty.srt")
            test::writeFile(path, "just text\n");
        try {
            loadSubtitles(path);
            ADD_FAILURE() << name;
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), "No subtitles were found in this file");
        }
    }
}

TEST(SubtitleTiming, ShiftDropsWhatEndsBeforeZero)
{
    const QList<SubtitleCue> cues{{0.5, 1.5, "gone"}, {1, 3, "moved"}, {2, 2, "edge"}, {5, 6, "late"}};
    EXPECT_EQ(shiftCues(cues, -2000), (QList<SubtitleCue>{{0, 1, "moved"}, {3, 4, "late"}}));
    EXPECT_EQ(shiftCues(cues, 0), cues);
    EXPECT_EQ(shiftCues(cues, 250).first(), (SubtitleCue{0.75, 1.75, "gone"}));
}

TEST(SubtitleTiming, MergeSortsByStartThenEndAndKeepsDuplicates)
{
    const QList<SubtitleCue> a{{2, 5, "a1"}, {4, 5, "a2"}};
    const QList<SubtitleCue> b{{2, 3, "b1"}, {2, 5, "b2"}, {0, 1, "b3"}};
    EXPECT_EQ(mergeCues({a, b}),
              (QList<SubtitleCue>{{0, 1, "b3"}, {2, 3, "b1"}, {2, 5, "a1"}, {2, 5, "b2"}, {4, 5, "a2"}}));
}

TEST(SubtitleWriting, ClockFormsRoundToTheirUnit)
{
    EXPECT_EQ(formatClockTime(3661.5, u","), "01:01:01,500");
    EXPECT_EQ(formatClockTime(3661.5, u"."), "01:01:01.500");
    EXPECT_EQ(formatASSTime(3661.5), "1:01:01.50");
    EXPECT_EQ(formatClockTime(0.0049, u","), "00:00:00,005");
    EXPECT_EQ(formatASSTime(0.0049), "0:00:00.00");
    EXPECT_EQ(formatClockTime(-3, u","), "00:00:00,000");
    EXPECT_EQ(formatClockTime(360000, u","), "100:00:00,000");
}

TEST(SubtitleWriting, EveryFormatFromTheSameCues)
{
    const QList<SubtitleCue> cues{{1, 2.25, QStringLiteral("<i>Hi</i> <c.yellow>there</c>\nyou")},
                                  {3661.5, 3662, QStringLiteral("Bye")}};
    EXPECT_EQ(subtitleText(cues, SubtitleFormat::srt),
              "1\n00:00:01,000 --> 00:00:02,250\nHi there\nyou\n\n2\n01:01:01,500 --> 01:01:02,000\nBye\n");
    EXPECT_EQ(subtitleText(cues, SubtitleFormat::vtt),
              "WEBVTT\n\n00:00:01.000 --> 00:00:02.250\n<i>Hi</i> <c.yellow>there</c>\nyou\n\n"
              "01:01:01.500 --> 01:01:02.000\nBye\n");
    const QString ass = subtitleText(cues, SubtitleFormat::ass);
    EXPECT_TRUE(ass.startsWith("[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\n"));
    EXPECT_TRUE(ass.endsWith("Effect, Text\nDialogue: 0,0:00:01.00,0:00:02.25,Default,,0,0,0,,Hi there\\Nyou\n"
                             "Dialogue: 0,1:01:01.50,1:01:02.00,Default,,0,0,0,,Bye\n"));
    const QString ssa = subtitleText(cues, SubtitleFormat::ssa);
    EXPECT_TRUE(ssa.contains("\nDialogue: Marked=0,0:00:01.00,0:00:02.25,Default,,0,0,0,,Hi there\\Nyou\n"));
    EXPECT_EQ(subtitleText(cues, SubtitleFormat::txt), "Hi there you\nBye\n");

    // Written text reads back as the same cues.
    EXPECT_EQ(parseASSEvents(ass).last(), cues.last());
    EXPECT_EQ(parseCueBlocks(subtitleText(cues, SubtitleFormat::vtt)), cues);
}

TEST(SubtitleWriting, NoCues)
{
    EXPECT_EQ(subtitleText({}, SubtitleFormat::vtt), "WEBVTT\n\n");
    EXPECT_EQ(subtitleText({}, SubtitleFormat::srt), "");
    EXPECT_EQ(subtitleText({}, SubtitleFormat::txt), "\n");
    EXPECT_TRUE(subtitleText({}, SubtitleFormat::ssa).endsWith("Effect, Text\n\n"));
}

// Some editors put a colon before the centiseconds; a line that still does not read is left
// out, and counted.
TEST(SubtitleLegacy, AssTimesWithAColonBeforeTheCentiseconds)
{
    EXPECT_EQ(parseASSTimestamp(u"0:00:04:56"), 4.56);
    EXPECT_EQ(parseASSTimestamp(u" 1:02:03.50 "), 3723.5);
    EXPECT_FALSE(parseASSTimestamp(u"0:00:04.5:56"));
    EXPECT_FALSE(parseTimestamp(u"0:00:04:56")); // SRT and WebVTT keep their strict reading
    const QString ass = QStringLiteral(
        "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: 0,0:00:04:56,0:00:06:10,Default,,0,0,0,,Colon times\n"
        "Dialogue: 0,0:00:07.00,0:00:08.00,Default,,0,0,0,,Dot times\n"
        "Dialogue: 0,later,0:00:09.00,Default,,0,0,0,,Broken time\n"
        "Dialogue: 0,0:00:09.00\n"
        "Dialogue: 0,0:00:10.00,0:00:11.00,Default,,0,0,0,,{\\pos(1,1)}\n");
    qint64 skipped = -1;
    const QList<SubtitleCue> cues = parseASSEvents(ass, &skipped);
    ASSERT_EQ(cues.size(), 2);
    EXPECT_EQ(cues[0], (SubtitleCue{4.56, 6.1, QStringLiteral("Colon times")}));
    EXPECT_EQ(skipped, 2); // an empty text is no cue lost

    QTemporaryDir dir;
    const LoadedSubtitles loaded = loadSubtitles(test::writeFile(dir.filePath("old.ssa"), ass.toUtf8()));
    EXPECT_EQ(loaded.cues.size(), 2);
    EXPECT_EQ(loaded.skipped, 2);
    EXPECT_EQ(skippedCuesNote("old.ssa", loaded.skipped), "old.ssa: 2 unreadable subtitles left out");
    EXPECT_EQ(skippedCuesNote("old.ssa", 0), "");

    const QString srt = QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\nfine\n\n"
                                       "2\n00:00:0x,000 --> 00:00:04,000\nbad start\n\n"
                                       "3\n00:00:05,000 --> 00:00:06,000 --> 00:00:07,000\nbad line\n\n"
                                       "4\nno timing at all\n\n\n\n");
    EXPECT_EQ(parseCueBlocks(srt, &skipped).size(), 1);
    EXPECT_EQ(skipped, 3);
    const QString vtt = QStringLiteral("WEBVTT - title\n\nSTYLE\n::cue { color: red }\n\nREGION\nid:r\n\n"
                                       "NOTE\nsome note\n\n00:01.000 --> 00:02.000\nfine\n\nlost\ncue\n");
    EXPECT_EQ(parseCueBlocks(vtt, &skipped).size(), 1);
    EXPECT_EQ(skipped, 1);
}

// WebVTT cue text carries what SRT cannot: karaoke timestamps, ruby, and a "-->" that SRT
// would take for a timing line.
TEST(SubtitleLegacy, WebVTTCueTextBecomesUnambiguousSRT)
{
    const QString vtt = QStringLiteral(
        "WEBVTT\n\n"
        "00:05:00.000 --> 00:05:06.000\n<c>Never</c><00:05:04.199><c> gonna</c><5:05.000> give\n\n"
        "00:05:07.000 --> 00:05:08.000\n<ruby>漢<rt>kan</rt>字<rt>ji</rt></ruby> and <ruby>日本<rp>(</rp><rt>nihon</rt><rp>)</rp></ruby>\n\n"
        "00:05:09.000 --> 00:05:10.000\nan arrow --> inside\nand more\n\n"
        "00:05:11.000 --> 00:05:12.000\n<i>a &lt;b&gt; &amp;amp; c</i>&nbsp;&lrm;\n");
    const QList<SubtitleCue> cues = parseCueBlocks(vtt);
    ASSERT_EQ(cues.size(), 4);
    const QString srt = subtitleText(cues.mid(0, 3), SubtitleFormat::srt);
    EXPECT_EQ(strippedSubtitleMarkup(cues[3].text), QStringLiteral("a <b> &amp; c\u00A0\u200E"));
    EXPECT_EQ(srt, QStringLiteral("1\n00:05:00,000 --> 00:05:06,000\nNever gonna give\n\n"
                                  "2\n00:05:07,000 --> 00:05:08,000\n漢(kan)字(ji) and 日本(nihon)\n\n"
                                  "3\n00:05:09,000 --> 00:05:10,000\nan arrow -> inside\nand more\n"));
    // Every cue comes back from the SRT as it went in, nothing glued to the timing.
    const QList<SubtitleCue> back = parseCueBlocks(srt);
    ASSERT_EQ(back.size(), 3);
    EXPECT_EQ(back[2].text, "an arrow -> inside\nand more");
    for (const QString& line : srt.split('\n'))
        EXPECT_TRUE(!line.contains("-->") || line.startsWith("00:05:")) << line.toStdString();

    // WebVTT keeps its markup but not a blank line or an arrow inside a cue.
    const QList<SubtitleCue> blank{{1, 2, QStringLiteral("top\n\nbottom --> end")}};
    EXPECT_EQ(subtitleText(blank, SubtitleFormat::vtt),
              "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\ntop\nbottom -> end\n");
    EXPECT_EQ(parseCueBlocks(subtitleText(blank, SubtitleFormat::srt)).size(), 1);
}
