#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaStreamRemoval.h"
#include "engines/media/operations/OggTagStripper.h"
#include "model/errors/EngineError.h"

#include <QFile>
#include <QStandardPaths>
#include <QtEndian>

using namespace qv;

namespace {
class MediaStreamRemoval : public test::MediaTool {
protected:
    static QByteArray title(const QString& path)
    {
        return probe({"-show_entries", "format_tags=title", "-of", "csv=p=0", "file:" + path});
    }

    // The play length an ASF file's header states: its File Properties object's play duration
    // (100 ns units) less its preroll (ms). Negative when there is none.
    static double statedSeconds(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray head = file.read(1 << 16);
        const QByteArray properties = QByteArray::fromHex("a1dcab8c47a9cf118ee400c00c205365");
        const qsizetype at = head.indexOf(properties);
        if (at < 0 || at + 88 > head.size())
            return -1;
        const double play = double(qFromLittleEndian<quint64>(head.constData() + at + 64)) / 1e7;
        const double preroll = double(qFromLittleEndian<quint64>(head.constData() + at + 80)) / 1e3;
        return play - preroll;
    }

    // Seconds of sound the file decodes to, from the samples themselves.
    static double decodedSeconds(const QString& path)
    {
        const QByteArray samples = probe({"-select_streams", "a:0", "-show_entries",
                                          "stream=sample_rate", "-of", "csv=p=0", "file:" + path});
        QByteArray pcm;
        test::runProgram("ffmpeg", {"-v", "error", "-i", "file:" + path, "-map", "0:a:0", "-f", "s16le", "-ac",
                                    "1", "-"}, &pcm);
        return double(pcm.size()) / 2.0 / samples.trimmed().split(',').first().toDouble();
    }
};
} // namespace

TEST_F(MediaStreamRemoval, MuteDropsTheSoundAndKeepsSubtitles)
{
    const QString subtitles = test::writeFile(dir.filePath("in/words.srt"), "1\n00:00:00,000 --> 00:00:01,000\nHello\n");
    const QString source = clip("clip.mkv", 1.0, "160x120", {"-map", "0", "-map", "1", "-map", "2", "-c:s", "srt"},
                                  {"-i", subtitles});
    const QString placed = muteVideo(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (muted).mkv"));
    EXPECT_EQ(stream(placed, "a", "codec_name"), "");
    EXPECT_EQ(stream(placed, "s", "codec_name"), "subrip");
    EXPECT_EQ(packets(placed, "v"), packets(source, "v"));
}

TEST_F(MediaStreamRemoval, MetadataAndChaptersGoAndEveryStreamStays)
{
    const QString chapters = test::writeFile(dir.filePath("in/meta.txt"),
                                             ";FFMETADATA1\ntitle=Secret\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\n"
                                             "title=One\n");
    const QString source = clip("clip.mp4", 1.0, "160x120", {"-map_metadata", "2", "-map", "0", "-map", "1"},
                                  {"-i", chapters});
    ASSERT_EQ(title(source), "Secret");
    const QString placed = removeMediaMetadata(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (no metadata).mp4"));
    EXPECT_EQ(title(placed), "");
    EXPECT_EQ(probe({"-show_chapters", "-of", "csv=p=0", "file:" + placed}), "");
    EXPECT_EQ(packets(placed, "v"), packets(source, "v"));
    EXPECT_EQ(packets(placed, "a"), packets(source, "a"));
}

TEST_F(MediaStreamRemoval, MutingSoundAloneIsRefused)
{
    try {
        muteVideo(input(tone("tone.mp3")), context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file has no video");
    }
    EXPECT_TRUE(outputs().isEmpty());
}

// A sound keeps its own container: a WMA stays an ASF file (it became Matroska under the WMA
// name), and FLAC, Opus or MP3 in an M4A go into plain MP4, which holds them where the iPod
// flavour refused them ("This combination of codec and format isn't supported", or "damaged"
// for the MP3).
TEST_F(MediaStreamRemoval, ASoundKeepsAContainerThatHoldsItsStreams)
{
    const QString wma = make("tune.wma", {"-f", "lavfi", "-i", "sine=duration=3.7", "-c:a", "wmav2", "-metadata",
                                          "title=Secret"});
    const QString placed = removeMediaMetadata(input(wma), context, work).toLocalFile();
    EXPECT_EQ(format(placed, "format_name"), "asf");
    EXPECT_EQ(title(placed), "");
    EXPECT_NEAR(format(placed, "duration").toDouble(), 3.7, 0.2);

    for (const char* codec : {"flac", "libopus", "libmp3lame"}) {
        const QString m4a = make(QString("tune-%1.m4a").arg(codec), {"-f", "lavfi", "-i", "sine=duration=1", "-c:a",
                                                                     codec, "-strict", "-2", "-metadata",
                                                                     "title=Secret", "-f", "mp4"});
        const QString stripped = removeMediaMetadata(input(m4a), context, work).toLocalFile();
        EXPECT_EQ(title(stripped), "") << codec;
        EXPECT_EQ(packets(stripped, "a"), packets(m4a, "a")) << codec;
    }
}

// The packets are copied, never decoded: a sound with scrambled frames, bare or in a container,
// is refused with the damage sentence rather than stripped with its holes.
TEST_F(MediaStreamRemoval, ASoundWithDamagedFramesIsRefused)
{
    const QString song = tone("song.mp3", 3.0, {"-c:a", "libmp3lame", "-b:a", "64k", "-metadata", "title=Secret"});
    const QString boxed = make("song.m4a", {"-i", "file:" + song, "-c:a", "copy", "-f", "mp4"});
    for (const QString& source : {song, boxed}) {
        QByteArray bytes = test::readFile(source);
        for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 1500; ++i)
            bytes[i] = char(bytes[i] ^ 0x5A);
        const QString damaged = test::writeFile(dir.filePath("in/holed." + QFileInfo(source).suffix()), bytes);
        try {
            removeMediaMetadata(input(damaged), context, work);
            ADD_FAILURE() << "a damaged copy finished: " << source.toStdString();
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), "This file is damaged or not in a supported format");
        }
    }
    EXPECT_EQ(outputs(), QStringList());
    EXPECT_EQ(title(removeMediaMetadata(input(song), context, work).toLocalFile()), "");
}

// A copied WMA Lossless packet has no duration of its own, and the muxer stated the length up
// to the last packet's start: the header said 3.34 s of a sound lasting 3.55 s. The header now
// states what the sound decodes to, for a lossless WMA and for one FFmpeg writes.
TEST_F(MediaStreamRemoval, AWmaHeaderStatesTheWholeSound)
{
    const QString lossless = dir.filePath("in/lossless.wma");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/wma-lossless.wma"), lossless));
    const QString made = make("made.wma", {"-f", "lavfi", "-i", "sine=duration=3.7", "-c:a", "wmav2", "-metadata",
                                           "artist=Jane Roe"});
    for (const QString& source : {lossless, made}) {
        const QString placed = removeMediaMetadata(input(source), context, work).toLocalFile();
        const double sound = decodedSeconds(placed);
        EXPECT_NEAR(sound, decodedSeconds(source), 0.001) << source.toStdString();
        EXPECT_GE(statedSeconds(placed), sound - 0.05) << source.toStdString();
        EXPECT_LE(statedSeconds(placed), sound + 0.1) << source.toStdString();
        EXPECT_NEAR(format(placed, "duration").toDouble(), sound, 0.1) << source.toStdString();
    }
}

// FFmpeg's copy of an Ogg sound whose last packet is trimmed at its end states hours; the
// pages are copied instead, every sample as it was, tags and covers gone. ffprobe and the decoded
// samples are the oracles.
TEST_F(MediaStreamRemoval, AnOggSoundLosesItsTagsAndKeepsItsSamples)
{
    const QString trimmed = dir.filePath("in/trimmed.ogg");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/vorbis-end-trimmed-covers.ogg"), trimmed));
    const QString opus = make("tagged.opus", {"-f", "lavfi", "-i", "sine=duration=0.7", "-c:a", "libopus",
                                              "-metadata", "title=Secret"});
    const auto samples = [](const QString& path) {
        QByteArray pcm;
        test::runProgram("ffmpeg", {"-v", "error", "-i", "file:" + path, "-map", "0:a:0", "-f", "s16le", "-"}, &pcm);
        return pcm;
    };
    const QString placed = removeMediaMetadata(input(trimmed), context, work).toLocalFile();
    EXPECT_NEAR(format(placed, "duration").toDouble(), 0.0218, 0.001);
    EXPECT_EQ(stream(placed, "v", "codec_name"), "");
    EXPECT_EQ(samples(placed), samples(trimmed));
    EXPECT_FALSE(samples(placed).isEmpty());

    // The page copy itself, on an Opus file FFmpeg copies well too.
    const QString copied = dir.filePath("copied.opus");
    ASSERT_TRUE(OggTagStripper::write(opus, copied));
    const auto tags = [](const QString& path) {
        return probe({"-show_entries", "format_tags:stream_tags", "-of", "csv=p=0", "file:" + path}).trimmed();
    };
    EXPECT_TRUE(tags(opus).contains("Secret")) << tags(opus).constData();
    EXPECT_FALSE(tags(copied).contains("Secret")) << tags(copied).constData();
    EXPECT_TRUE(tags(trimmed).contains("Test Title"));
    EXPECT_FALSE(tags(placed).contains("Test Title")) << tags(placed).constData();
    EXPECT_EQ(samples(copied), samples(opus));
    EXPECT_EQ(format(copied, "duration"), format(opus, "duration"));
    const QString mp3 = make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=0.3", "-c:a", "libmp3lame"});
    EXPECT_FALSE(OggTagStripper::write(mp3, dir.filePath("nothing.ogg")));
    EXPECT_FALSE(QFile::exists(dir.filePath("nothing.ogg")));
}

namespace {

QByteArray padded(const QByteArray& text, int length)
{
    return text.leftJustified(length, '\0', true);
}

// An ID3v1.1 tag naming a person, an album and a comment.
QByteArray id3v1()
{
    return "TAG" + padded("Jane Song", 30) + padded("Jane Roe", 30) + padded("Secret Album", 30) + "2020"
        + padded("Recorded at home", 28) + QByteArray("\0\x05\x0c", 3);
}

// The "TAG+" block some players put before an ID3v1 tag: longer title, artist and album.
QByteArray enhancedTag()
{
    return "TAG+" + padded("Jane Song, the long title", 60) + padded("Jane Roe, the long name", 60)
        + padded("Secret Album, long", 60) + QByteArray(1, '\0') + padded("Rock", 30) + "000:00" + "000:03";
}

QByteArray apeTag()
{
    QByteArray items;
    int count = 0;
    for (const auto& [key, value] : {std::pair{"Artist", "Jane Roe"}, std::pair{"Comment", "Recorded at home"}}) {
        QByteArray item(8, '\0');
        qToLittleEndian<quint32>(quint32(qstrlen(value)), item.data());
        items += item + key + '\0' + value;
        ++count;
    }
    const auto footer = [&](quint32 flags) {
        QByteArray bytes = "APETAGEX" + QByteArray(24, '\0');
        qToLittleEndian<quint32>(2000, bytes.data() + 8);
        qToLittleEndian<quint32>(quint32(items.size() + 32), bytes.data() + 12);
        qToLittleEndian<quint32>(quint32(count), bytes.data() + 16);
        qToLittleEndian<quint32>(flags, bytes.data() + 20);
        return bytes;
    };
    return footer(0xA0000000) + items + footer(0x80000000);
}

QByteArray id3v24()
{
    QByteArray frames;
    for (const auto& [id, text] : {std::pair{"TIT2", "Jane Song"}, std::pair{"TPE1", "Jane Roe"}}) {
        const QByteArray data = '\x03' + QByteArray(text);
        frames += QByteArray(id) + char(0) + char(0) + char(0) + char(data.size()) + QByteArray(2, '\0') + data;
    }
    return QByteArray("ID3\x04\0\0\0\0\0", 10).replace(9, 1, QByteArray(1, char(frames.size()))) + frames;
}

} // namespace

// FFmpeg copies whatever follows the last frame along with it: an ID3v1 tag behind a recorder's
// junk stayed in the result, names and all. No tag at the end survives, however it is laid out:
// ID3v1 alone, behind an APE tag, behind junk, with "TAG+", with an ID3v2.4 tag at the start.
TEST_F(MediaStreamRemoval, NoTagAtTheEndOfAnMp3Survives)
{
    if (QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "needs exiftool";
    const QString plain = tone("plain.mp3", 2.0, {"-c:a", "libmp3lame", "-id3v2_version", "0", "-fflags", "+bitexact"});
    const QByteArray sound = test::readFile(plain);
    QByteArray junk;
    for (int i = 0; i < 1024; ++i)
        junk += char(i % 251);
    const QList<std::pair<const char*, QByteArray>> layouts{
        {"v1", sound + id3v1()},
        {"ape-v1", sound + apeTag() + id3v1()},
        {"junk-v1", sound + junk + id3v1()},
        {"junk-ape", sound + junk + apeTag()},
        {"enhanced", sound + enhancedTag() + id3v1()},
        {"v24-v1", id3v24() + sound + id3v1()},
    };
    for (const auto& [name, bytes] : layouts) {
        const QString source = test::writeFile(dir.filePath(QString("in/%1.mp3").arg(name)), bytes);
        QByteArray before;
        test::runProgram("exiftool", {"-a", "-G1", source}, &before);
        ASSERT_TRUE(before.contains("Jane Roe")) << name;
        const QString placed = removeMediaMetadata(input(source), context, work).toLocalFile();
        QByteArray after;
        test::runProgram("exiftool", {"-a", "-G1", placed}, &after);
        for (const char* left : {"Jane", "Secret", "Recorded", "[ID3v1", "[APE]"})
            EXPECT_FALSE(after.contains(left)) << name << ": " << left << "\n" << after.toStdString();
        EXPECT_FALSE(test::readFile(placed).contains("Jane")) << name;
        EXPECT_EQ(packets(placed, "a"), packets(plain, "a")) << name;
    }
    // A tag right behind a frame cut short (mutagen's and TagLib's test files end so): the
    // frames' chain ends inside the tag, which must go all the same.
    const QString cut = test::writeFile(dir.filePath("in/cut.mp3"), sound.left(sound.size() - 100) + id3v1());
    const QString placed = removeMediaMetadata(input(cut), context, work).toLocalFile();
    QByteArray after;
    test::runProgram("exiftool", {"-a", "-G1", placed}, &after);
    EXPECT_FALSE(after.contains("[ID3v1")) << after.toStdString();
    EXPECT_FALSE(test::readFile(placed).contains("Jane"));
}
