#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

QString make(const QString& path, const QStringList& arguments)
{
    EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"),
                         QStringList{"-nostdin", "-v", "error", "-y"} + arguments + QStringList{"file:" + path}),
              0);
    return path;
}

// Ten seconds of red 1280 x 720 with a tone, a key frame every second.
QString redClip(const QString& path)
{
    return make(path, {"-f", "lavfi", "-i", "color=c=red:size=1280x720:rate=25:duration=10", "-f", "lavfi", "-i",
                       "sine=frequency=440:duration=10", "-c:v", "libx264", "-g", "25", "-pix_fmt", "yuv420p",
                       "-c:a", "aac", "-shortest"});
}

QString probe(const QString& file, const QString& entries, const QString& stream = QStringLiteral("v:0"))
{
    QByteArray output;
    runProgram(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", stream, "-show_entries", entries,
                                            "-of", "default=nw=1:nk=1", "file:" + file},
               &output);
    return QString::fromUtf8(output).trimmed();
}

double duration(const QString& file)
{
    QByteArray output;
    runProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration", "-of",
                                            "default=nw=1:nk=1", "file:" + file},
               &output);
    return output.trimmed().toDouble();
}

} // namespace

TEST(EditCommand, TrimShowsTheClipAndSubmitsTheDraggedSelection)
{
    QTemporaryDir dir;
    const QString clip = redClip(dir.filePath("clip.mp4"));
    int code = -1;
    const QString shot = dir.filePath("shot.png");
    const QJsonObject shown = runEditCommand({"tool.video.trim", clip, "--screenshot", shot}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shown["title"].toString(), "Trim clip.mp4");
    EXPECT_EQ(shown["size"].toArray()[0].toInt(), 756);
    EXPECT_TRUE(stringList(shown["disabled"]).contains("Trim"));
    EXPECT_TRUE(shown["submitted"].isNull());
    EXPECT_TRUE(shown["stillOpen"].toBool()); // no action ended it
    // Red frames fill the strip inside the amber selection, below the 405-high picture.
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    const int y = int((18 + 405 + 12 + 24) * image.height() / double(shown["size"].toArray()[1].toInt()));
    int red = 0;
    for (int x = image.width() / 4; x < image.width() * 3 / 4; ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.red() > 180 && c.green() < 80 && c.blue() < 80)
            ++red;
    }
    EXPECT_GT(red, image.width() / 4);

    const QJsonObject trimmed =
        runEditCommand({"tool.video.trim", clip, "--do", R"([["drag","start","time:2"],["drag","end","time:7.5"],["apply"]])"},
             dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QJsonObject submitted = trimmed["submitted"].toObject();
    EXPECT_EQ(submitted.size(), 2);
    EXPECT_NEAR(submitted["trimStart"].toDouble(), 2.0, 0.05);
    EXPECT_NEAR(submitted["trimEnd"].toDouble(), 7.5, 0.05);
    EXPECT_FALSE(trimmed["stillOpen"].toBool());
    const QString output = dir.filePath("clip (trimmed).mp4");
    EXPECT_EQ(trimmed["job"].toObject()["outputs"].toArray()[0].toString(), output);
    EXPECT_NEAR(duration(output), 5.5, 0.2);
}

TEST(EditCommand, TheTrimPictureFollowsTheDraggedHandle)
{
    QTemporaryDir dir;
    // Grey that lightens by 35 every second (30 at the start, 205 in the sixth), one key frame.
    const QString clip = make(dir.filePath("steps.mp4"),
                              {"-f", "lavfi", "-i", "nullsrc=size=1280x720:rate=25:duration=6,geq=lum='30+35*floor(T)':cb=128:cr=128",
                               "-c:v", "libx264", "-g", "250", "-pix_fmt", "yuv420p"});
    QStringList arguments{"tool.video.trim", clip, "--do"};
    QJsonArray actions;
    const QList<double> times{2.5, 4.5, 1.5};
    for (qsizetype i = 0; i < times.size(); ++i) {
        actions.append(QJsonArray{"drag", "start", QStringLiteral("time:%1").arg(times[i])});
        actions.append(QJsonArray{"wait", 1000});
        actions.append(QJsonArray{"screenshot", dir.filePath(QStringLiteral("at%1.png").arg(i))});
    }
    arguments.append(QString::fromUtf8(QJsonDocument(actions).toJson(QJsonDocument::Compact)));
    int code = -1;
    const QJsonObject shown = runEditCommand(arguments, dir.path(), &code);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(shown["size"].toArray().size(), 2);
    for (qsizetype i = 0; i < times.size(); ++i) {
        const QImage image(dir.filePath(QStringLiteral("at%1.png").arg(i)));
        ASSERT_FALSE(image.isNull());
        // The middle of the 405-high picture below the window's 18-point top margin.
        const double scale = image.height() / double(shown["size"].toArray()[1].toInt());
        const int grey = qGray(image.pixel(image.width() / 2, int((18 + 405 / 2.0) * scale)));
        EXPECT_NEAR(grey, 30 + 35 * int(times[i]), 12) << "after the drag to " << times[i] << " s";
    }
}

TEST(EditCommand, CancelAndEscapeCloseTheEditorAndSubmitNothing)
{
    QTemporaryDir dir;
    const QString clip = redClip(dir.filePath("clip.mp4"));
    // A wait is in milliseconds and goes on to the next action.
    for (const char* actions : {R"([["drag","end","time:5"],["wait",200],["cancel"]])",
                                R"([["drag","end","time:5"],["key","Escape"]])", R"([["close"]])"}) {
        SCOPED_TRACE(actions);
        int code = -1;
        const QJsonObject result = runEditCommand({"tool.video.trim", clip, "--do", actions}, dir.path(), &code);
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(result["opened"].toBool());
        EXPECT_FALSE(result["stillOpen"].toBool());
        EXPECT_TRUE(result["submitted"].isNull());
        EXPECT_TRUE(result["job"].isNull());
    }
    EXPECT_EQ(QDir(dir.path()).entryList({"clip (*"}), QStringList());
}

TEST(EditCommand, SplitAtMarksPlacedWithBAndInEqualParts)
{
    QTemporaryDir dir;
    const QString clip = redClip(dir.filePath("clip.mp4"));
    int code = -1;
    const QJsonObject result = runEditCommand(
        {"tool.video.split", clip, "--do",
         R"([["click","time:3"],["key","B"],["click","time:6"],["key","B"],["click","time:0.1"],["key","B"],["apply"]])"},
        dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result["title"].toString(), "Split clip.mp4");
    EXPECT_TRUE(stringList(result["texts"]).contains(QStringLiteral("3 parts · click a mark to remove it")));
    const QJsonArray at = result["submitted"].toObject()["split"].toObject()["at"].toObject()["_0"].toArray();
    ASSERT_EQ(at.size(), 2);
    EXPECT_NEAR(at[0].toDouble(), 3.0, 0.1);
    EXPECT_NEAR(at[1].toDouble(), 6.0, 0.1);
    QStringList parts = QDir(dir.filePath("clip (parts)")).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(parts, (QStringList{"clip 1.mp4", "clip 2.mp4", "clip 3.mp4"}));

    const QJsonObject equal =
        runEditCommand({"tool.video.split", clip, "--no-run", "--do", R"([["click","Equal parts"],["apply"]])"}, dir.path(), &code);
    EXPECT_EQ(QJsonDocument(equal["submitted"].toObject()).toJson(QJsonDocument::Compact),
              R"({"split":{"parts":{"_0":2}}})");
}

TEST(EditCommand, ARingtoneStopsFortySecondsAfterItsStart)
{
    QTemporaryDir dir;
    const QString tone = make(dir.filePath("tone.m4a"), {"-f", "lavfi", "-i", "sine=frequency=440:duration=90", "-c:a", "aac"});
    int code = -1;
    const QJsonObject result = runEditCommand(
        {"tool.audio.ringtone", tone, "--do", R"([["drag","start","time:10"],["drag","end","time:70"],["apply"]])"},
        dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result["title"].toString(), "Ringtone from tone.m4a");
    EXPECT_TRUE(stringList(result["texts"]).contains("Ringtones can be at most 40 seconds long."));
    const QJsonObject submitted = result["submitted"].toObject();
    EXPECT_NEAR(submitted["trimStart"].toDouble(), 10, 0.05);
    EXPECT_DOUBLE_EQ(submitted["trimEnd"].toDouble() - submitted["trimStart"].toDouble(), 40.0);
    EXPECT_NEAR(duration(dir.filePath("tone.m4r")), 40, 0.3);
}

TEST(EditCommand, AFileThePlayerRefusesIsPreviewedThroughAProxyButTheJobReadsTheOriginal)
{
    QTemporaryDir dir;
    const QString clip = make(dir.filePath("clip.mkv"),
                              {"-f", "lavfi", "-i", "testsrc=size=1280x720:rate=25:duration=4", "-f", "lavfi", "-i",
                               "sine=duration=4", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"});
    int code = -1;
    const QJsonObject result = runEditCommand({"tool.video.trim", clip, "--unplayable", "--do",
                                     R"([["drag","end","time:3"],["apply"]])"},
                                    dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(stringList(result["toasts"]).contains(QStringLiteral("Preparing a preview of clip.mkv…")));
    const QDir tmp(dir.filePath("cache/quorvenda/tmp"));
    const QStringList proxies = tmp.entryList({"proxy-*.mp4"}, QDir::Files);
    ASSERT_EQ(proxies.size(), 1);
    EXPECT_TRUE(QRegularExpression("^proxy-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.mp4$").match(proxies[0]).hasMatch());
    const QString proxy = tmp.filePath(proxies[0]);
    EXPECT_EQ(probe(proxy, "stream=codec_name,height"), "h264\n480");
    EXPECT_EQ(probe(proxy, "stream=codec_name", "a:0"), "aac");
    const QString trimmed = result["job"].toObject()["outputs"].toArray()[0].toString();
    EXPECT_TRUE(trimmed.startsWith(dir.filePath("clip (trimmed)."))) << trimmed.toStdString();
    EXPECT_EQ(probe(trimmed, "stream=width"), "1280");

    const QString flac = make(dir.filePath("tone.flac"), {"-f", "lavfi", "-i", "sine=duration=3"});
    const QJsonObject sound = runEditCommand({"tool.audio.trim", flac, "--unplayable", "--no-run"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(sound["title"].toString(), "Trim tone.flac");
    const QStringList m4a = tmp.entryList({"proxy-*.m4a"}, QDir::Files);
    ASSERT_EQ(m4a.size(), 1);
    EXPECT_EQ(probe(tmp.filePath(m4a[0]), "stream=codec_name", "a:0"), "aac");
}

TEST(EditCommand, AnMp3BehindJunkIsPreviewedAsTheJobReadsIt)
{
    QTemporaryDir dir;
    const QString song = make(dir.filePath("plain.mp3"), {"-f", "lavfi", "-i", "sine=duration=8", "-c:a", "libmp3lame"});
    const QString junk = writeFile(dir.filePath("junk.mp3"), amrLookingJunk(50000) + readFile(song));
    int code = -1;
    const QJsonObject sound = runEditCommand({"tool.audio.trim", junk, "--unplayable", "--no-run"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(sound["opened"].toBool());
    const QStringList proxies = QDir(dir.filePath("cache/quorvenda/tmp")).entryList({"proxy-*.m4a"}, QDir::Files);
    ASSERT_EQ(proxies.size(), 1);
    // Its own eight seconds of tone, not minutes of noise read as AMR.
    EXPECT_NEAR(duration(dir.filePath("cache/quorvenda/tmp/" + proxies[0])), 8.0, 1.0);
}

TEST(EditCommand, AnUnreadableFileOpensNothingAndLeavesNoProxy)
{
    QTemporaryDir dir;
    const QString clip = redClip(dir.filePath("whole.mp4"));
    QFile whole(clip);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    writeFile(dir.filePath("broken.mp4"), whole.read(whole.size() / 3));
    int code = -1;
    const QJsonObject result = runEditCommand({"tool.video.trim", dir.filePath("broken.mp4")}, dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(result["opened"].toBool());
    EXPECT_TRUE(stringList(result["toasts"]).contains("Couldn't open broken.mp4 for editing"));
    EXPECT_EQ(QDir(dir.filePath("cache/quorvenda/tmp")).entryList({"proxy-*"}, QDir::Files), QStringList());

    const QJsonObject text =
        runEditCommand({"tool.audio.trim", writeFile(dir.filePath("-notes.mp3"), "not audio")}, dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(stringList(text["toasts"]).contains("Couldn't open -notes.mp3 for editing"));
}

TEST(EditCommand, AnAudioFileWithACoverPictureOpensWithAWaveformUnderAnyName)
{
    QTemporaryDir dir;
    const QString cover = make(dir.filePath("cover.png"), {"-f", "lavfi", "-i", "color=c=blue:size=300x300", "-frames:v", "1"});
    const QString song = dir.filePath("-a 'q\" é.mp3");
    ASSERT_EQ(runProgram(QStringLiteral("ffmpeg"),
                         {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=duration=5", "-i", "file:" + cover,
                          "-map", "0", "-map", "1", "-c:a", "libmp3lame", "-c:v", "png", "-disposition:v",
                          "attached_pic", "file:" + song}),
              0);
    int code = -1;
    const QString shot = dir.filePath("song.png");
    const QJsonObject result = runEditCommand({"tool.audio.trim", song, "--screenshot", shot, "--do",
                                     R"([["drag","start","time:1"],["apply"]])"},
                                    dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result["title"].toString(), "Trim -a 'q\" é.mp3");
    EXPECT_EQ(result["size"].toArray()[0].toInt(), 596); // no picture: the narrowest editor
    EXPECT_NEAR(result["submitted"].toObject()["trimStart"].toDouble(), 1.0, 0.05);
    EXPECT_EQ(result["job"].toObject()["state"].toString(), "finished");
    // The waveform: bars in the strip's middle row, not only its tint.
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    const int y = int(18 + 24);
    QSet<QRgb> colours;
    for (int x = 100; x < 500; ++x)
        colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 2);
}
