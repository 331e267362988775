#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

DriverRun run(const QStringList& args, const QString& home)
{
    return runDriverJob(args, home);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The cues ffmpeg finds in a subtitle file.
int ffmpegCueCount(const QString& path)
{
    QByteArray output;
    if (runProgram("ffprobe", {"-v", "error", "-count_packets", "-select_streams", "s:0", "-show_entries",
                               "stream=nb_read_packets", "-of", "csv=p=0", path}, &output) != 0)
        return -1;
    return output.trimmed().toInt();
}

const QByteArray movieSrt =
    "\xEF\xBB\xBF" "1\r\n00:00:00,500 --> 00:00:01,500\r\n<b>Early</b>\r\n\r\n"
    "2\r\n00:00:01,000 --> 00:00:03,000\r\nOne to three\r\n\r\n"
    "garbage without a timing line\r\n\r\n"
    "3\r\n00:00:04,000 --> 00:00:nan\r\nBroken\r\n\r\n"
    "4\r\n01:01:01,500 --> 01:01:02,000\r\n<i>Late</i> line\r\nsecond\r\n";

} // namespace

TEST(SubtitleRun, ConversionsReadMessyFilesAndFfmpegAgrees)
{
    QTemporaryDir dir;
    const QString work = dir.filePath("work");
    const QString srt = writeFile(work + "/Movie.srt", movieSrt);

    DriverRun vtt = run({"convert.subtitle.vtt", srt}, dir.path());
    ASSERT_EQ(vtt.code, 0) << vtt.failure().toStdString();
    EXPECT_EQ(vtt.outputs(), QStringList{work + "/Movie.vtt"});
    const QByteArray vttText = readFile(work + "/Movie.vtt");
    EXPECT_TRUE(vttText.startsWith("WEBVTT\n\n00:00:00.500 --> 00:00:01.500\n<b>Early</b>\n"));
    EXPECT_TRUE(vttText.contains("\n01:01:01.500 --> 01:01:02.000\n<i>Late</i> line\nsecond\n"));

    DriverRun ass = run({"convert.subtitle.ass", srt}, dir.path());
    ASSERT_EQ(ass.code, 0);
    const QByteArray assText = readFile(work + "/Movie.ass");
    EXPECT_TRUE(assText.contains("\nDialogue: 0,1:01:01.50,1:01:02.00,Default,,0,0,0,,Late line\\Nsecond\n"));
    EXPECT_TRUE(assText.contains(",,Early\n"));

    EXPECT_EQ(ffmpegCueCount(work + "/Movie.vtt"), 3);
    EXPECT_EQ(ffmpegCueCount(work + "/Movie.ass"), 3);
    EXPECT_EQ(readFile(srt), movieSrt);
}

TEST(SubtitleRun, ShiftNamesTheResultByTheOffset)
{
    QTemporaryDir dir;
    const QString srt = writeFile(dir.filePath("w/Movie.srt"), movieSrt);
    DriverRun earlier = run({"tool.subtitle.shift", "--options", R"({"subtitleShiftMilliseconds":-2000})", srt}, dir.path());
    ASSERT_EQ(earlier.code, 0) << earlier.failure().toStdString();
    EXPECT_EQ(earlier.outputs(), QStringList{dir.filePath("w/Movie (shifted -2000 ms).srt")});
    EXPECT_EQ(readFile(dir.filePath("w/Movie (shifted -2000 ms).srt")),
              "1\n00:00:00,000 --> 00:00:01,000\nOne to three\n\n"
              "2\n01:00:59,500 --> 01:01:00,000\nLate line\nsecond\n");

    DriverRun none = run({"tool.subtitle.shift", srt}, dir.path());
    EXPECT_EQ(none.outputs(), QStringList{dir.filePath("w/Movie (shifted +0 ms).srt")});
}

TEST(SubtitleRun, MergeKeepsTheFirstFilesFormatAndRefusesPlainText)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    const QString a = writeFile(w + "/a.ass",
                                "[Events]\nDialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,From ass\n");
    const QString b = writeFile(w + "/b.srt", "1\n00:00:01,000 --> 00:00:02,000\nFrom srt\n");
    DriverRun merged = run({"tool.subtitle.merge", b, a}, dir.path());
    ASSERT_EQ(merged.code, 0) << merged.failure().toStdString();
    EXPECT_EQ(merged.outputs(), QStringList{w + "/a (merged).ass"});
    const QString text = QString::fromUtf8(readFile(w + "/a (merged).ass"));
    EXPECT_LT(text.indexOf("From srt"), text.indexOf("From ass"));
    EXPECT_EQ(text.count(QRegularExpression("^Dialogue:", QRegularExpression::MultilineOption)), 2);

    const QString c = writeFile(w + "/c.txt", "just some words\n");
    const QStringList before = entries(w);
    DriverRun failed = run({"tool.subtitle.merge", a, b, c}, dir.path());
    EXPECT_EQ(failed.code, 1);
    EXPECT_EQ(failed.failure(), "No subtitles were found in this file");
    EXPECT_EQ(entries(w), before);
}

TEST(SubtitleRun, AStrayByteIsReplacedAndTold)
{
    QTemporaryDir dir;
    // Windows-1252 with one of its undefined bytes, and a NUL in a UTF-8 file.
    const QString cp1252 = writeFile(dir.filePath("w/Old.srt"), "1\r\n00:00:01,000 --> 00:00:02,000\r\nCaf\xe9 \x81 bar\r\n");
    const QString utf8 = writeFile(dir.filePath("w/New.srt"),
                                   QByteArray("1\n00:00:01,000 --> 00:00:02,000\nd\xc3\xa9j\xc3\xa0\0 vu\n", 43));

    DriverRun old = run({"convert.subtitle.vtt", cp1252}, dir.path());
    ASSERT_EQ(old.code, 0) << old.failure().toStdString();
    EXPECT_EQ(old.messages(), QStringList{QString::fromUtf8("Old.srt: 1 unreadable character replaced with \xef\xbf\xbd")});
    EXPECT_TRUE(readFile(dir.filePath("w/Old.vtt")).contains("\nCaf\xc3\xa9 \xef\xbf\xbd bar\n"));

    DriverRun fresh = run({"convert.subtitle.ass", utf8}, dir.path());
    ASSERT_EQ(fresh.code, 0) << fresh.failure().toStdString();
    EXPECT_EQ(fresh.messages().size(), 1);
    EXPECT_TRUE(readFile(dir.filePath("w/New.ass")).contains(",,d\xc3\xa9j\xc3\xa0\xef\xbf\xbd vu\n"));
}

// An old editor's ASS with a colon before the centiseconds converts whole; a line that still
// cannot be read is left out and told.
TEST(SubtitleRun, LegacyAssTimesConvertAndLostLinesAreTold)
{
    QTemporaryDir dir;
    const QString ass = writeFile(dir.filePath("w/Old.ass"),
        "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: 0,0:00:04:56,0:00:06:10,Default,,0,0,0,,First\n"
        "Dialogue: 0,0:00:07.00,0:00:0x.00,Default,,0,0,0,,Lost\n"
        "Dialogue: 0,0:00:08:00,0:00:09:50,Default,,0,0,0,,Third\n");
    const DriverRun srt = run({"convert.subtitle.srt", ass}, dir.path());
    ASSERT_EQ(srt.code, 0) << srt.failure().toStdString();
    EXPECT_EQ(srt.messages(), QStringList{"Old.ass: 1 unreadable subtitle left out"});
    EXPECT_EQ(readFile(dir.filePath("w/Old.srt")),
              "1\n00:00:04,560 --> 00:00:06,100\nFirst\n\n2\n00:00:08,000 --> 00:00:09,500\nThird\n");
}
