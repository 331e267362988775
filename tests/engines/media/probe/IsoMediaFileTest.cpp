#include "engines/media/probe/IsoMediaFile.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QtEndian>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qv;

namespace {

// Three seconds of H.264 and AAC, as FFmpeg lays them out with these extra arguments.
bool writeClip(const QString& path, const QStringList& extra)
{
    QStringList arguments{"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=3",
                          "-f", "lavfi", "-i", "sine=duration=3", "-c:v", "libx264", "-preset", "ultrafast",
                          "-c:a", "aac", "-shortest"};
    arguments << extra << path;
    return test::runProgram(QStringLiteral("ffmpeg"), arguments) == 0;
}

// Movie header first (faststart) and last, and QuickTime: each file's name and FFmpeg's arguments.
QList<std::pair<QString, QStringList>> layouts()
{
    return {{QStringLiteral("fast.mp4"), {"-movflags", "+faststart"}},
            {QStringLiteral("plain.mp4"), {}},
            {QStringLiteral("clip.mov"), {}}};
}

} // namespace

TEST(IsoMediaFile, ReadsTheLengthOfWhatFFmpegWroteAndNothingOfACutOrPaddedFile)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QList<std::pair<QString, QStringList>> made = layouts();
    for (const auto& [name, extra] : made) {
        ASSERT_TRUE(writeClip(dir.filePath(name), extra)) << name.toStdString();
        const std::optional<double> seconds = IsoMediaFile::duration(dir.filePath(name));
        ASSERT_TRUE(seconds) << name.toStdString();
        EXPECT_NEAR(*seconds, 3.0, 0.1) << name.toStdString();
    }
    const QByteArray whole = test::readFile(dir.filePath(QStringLiteral("plain.mp4")));
    const QString cut = test::writeFile(dir.filePath(QStringLiteral("cut.mp4")), whole.left(whole.size() - 100));
    EXPECT_FALSE(IsoMediaFile::duration(cut)) << "a file cut short";
    const QString padded = test::writeFile(dir.filePath(QStringLiteral("padded.mp4")), whole + "junk");
    EXPECT_FALSE(IsoMediaFile::duration(padded)) << "bytes after the last box";
    // An unfinished file: the media written, no movie box yet.
    const qsizetype movie = whole.indexOf("moov") - 4;
    ASSERT_GT(movie, 0);
    const QString unfinished = test::writeFile(dir.filePath(QStringLiteral("unfinished.mp4")), whole.left(movie));
    EXPECT_FALSE(IsoMediaFile::duration(unfinished));
    EXPECT_FALSE(IsoMediaFile::duration(test::writeFile(dir.filePath(QStringLiteral("empty.mp4")), "")));
    EXPECT_FALSE(IsoMediaFile::duration(dir.filePath(QStringLiteral("missing.mp4"))));
    EXPECT_TRUE(IsoMediaFile::handles(QStringLiteral("mov")));
    EXPECT_FALSE(IsoMediaFile::handles(QStringLiteral("mkv")));
}

TEST(IsoMediaFile, CountsTheSamplesATrackListsAndNoneOfAFragmentedFile)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QList<std::pair<QString, QStringList>> made = layouts() << std::pair<QString, QStringList>{
        QStringLiteral("fragments.mp4"), {"-movflags", "frag_keyframe+empty_moov"}};
    for (const auto& [name, extra] : made) {
        ASSERT_TRUE(writeClip(dir.filePath(name), extra)) << name.toStdString();
    }
    for (const char* name : {"fast.mp4", "plain.mp4", "clip.mov"}) {
        const QString path = dir.filePath(QLatin1String(name));
        QByteArray counted;
        ASSERT_EQ(test::runProgram(QStringLiteral("ffprobe"),
                                   {"-v", "error", "-show_entries", "stream=nb_frames", "-of", "csv=p=0", path}, &counted),
                  0);
        qint64 frames = 0;
        for (const QByteArray& line : counted.trimmed().split('\n'))
            frames += line.trimmed().toLongLong();
        const std::optional<IsoMediaFile::SampleTables> tables = IsoMediaFile::sampleTables(path);
        ASSERT_TRUE(tables) << name;
        EXPECT_EQ(tables->samples, frames) << name;
        EXPECT_GT(frames, 75 + 120) << name;
        const QByteArray whole = test::readFile(path);
        const qsizetype movie = whole.indexOf("moov") - 4;
        ASSERT_GT(movie, 0);
        EXPECT_EQ(tables->movieBytes, qFromBigEndian<quint32>(whole.constData() + movie)) << name;
    }
    EXPECT_FALSE(IsoMediaFile::sampleTables(dir.filePath(QStringLiteral("fragments.mp4"))))
        << "the samples of a fragmented file are listed after its movie box";
    const QByteArray whole = test::readFile(dir.filePath(QStringLiteral("plain.mp4")));
    const qsizetype movie = whole.indexOf("moov") - 4;
    EXPECT_FALSE(IsoMediaFile::sampleTables(test::writeFile(dir.filePath(QStringLiteral("unfinished.mp4")), whole.left(movie))));
    EXPECT_FALSE(IsoMediaFile::sampleTables(dir.filePath(QStringLiteral("missing.mp4"))));
}

TEST(IsoMediaFile, GivesThePictureTracksDecoderConfiguration)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString movie = dir.filePath(QStringLiteral("clip.mp4"));
    ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                               {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1",
                                "-f", "lavfi", "-i", "sine=duration=1", "-c:v", "libx264", "-preset", "ultrafast", "-c:a",
                                "aac", "-shortest", movie}),
              0);
    const std::optional<QByteArray> config = IsoMediaFile::videoDecoderConfig(movie);
    ASSERT_TRUE(config);
    // Version 1, then the profile of the sequence parameter set it holds.
    ASSERT_GT(config->size(), 8);
    EXPECT_EQ(config->at(0), 1);
    EXPECT_TRUE(config->contains(QByteArray::fromHex("6742")) || config->contains(QByteArray::fromHex("674d"))
                || config->contains(QByteArray::fromHex("6764")));
    const QString sound = dir.filePath(QStringLiteral("tone.m4a"));
    ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                               {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac", sound}),
              0);
    EXPECT_FALSE(IsoMediaFile::videoDecoderConfig(sound));
    // Two picture tracks: no one configuration to give.
    const QString two = dir.filePath(QStringLiteral("two.mp4"));
    ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", movie, "-i", movie, "-map",
                                                          "0:v", "-map", "1:v", "-c", "copy", two}),
              0);
    EXPECT_FALSE(IsoMediaFile::videoDecoderConfig(two));
    EXPECT_FALSE(IsoMediaFile::videoDecoderConfig(dir.filePath(QStringLiteral("missing.mp4"))));
}
