#pragma once

// Shared by the media tool tests: inputs made with lavfi, a work folder and an output folder
// standing in for the job's planner, and ffprobe checks.

#include "engines/media/operations/MediaConversion.h"
#include "model/operations/Capabilities.h"
#include "model/operations/JobNotes.h"
#include "model/operations/Progress.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>

#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

namespace qv::test {

class MediaTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the tests need ffmpeg";
        ASSERT_TRUE(dir.isValid());
        for (const char* sub : {"in", "work", "out"})
            ASSERT_TRUE(QDir(dir.path()).mkpath(sub));
        context.notes = std::make_shared<JobNotes>();
        work.progress = &progress;
        work.workFile = [this](const QString& extension) {
            const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
            return QUrl::fromLocalFile(dir.filePath("work/" + name + (extension.isEmpty() ? "" : "." + extension)));
        };
        work.placeNamed = [this](const QUrl& file, const QString& base, const QString& extension) {
            const QString target = dir.filePath("out/" + base + (extension.isEmpty() ? "" : "." + extension));
            EXPECT_FALSE(QFileInfo::exists(target));
            EXPECT_TRUE(QFile::rename(file.toLocalFile(), target));
            return QUrl::fromLocalFile(target);
        };
        work.place = [this](const QUrl& file, const QString& extension) {
            return work.placeNamed(file, work.baseName, extension);
        };
        work.workFolder = [this](const QString& name) {
            EXPECT_TRUE(QDir(dir.filePath("work")).mkpath(name));
            return QUrl::fromLocalFile(dir.filePath("work/" + name));
        };
    }

    // An input file; the planner's source becomes this file.
    FileInfo input(const QString& path)
    {
        const FileInfo info = fileInfoForURL(QUrl::fromLocalFile(path));
        work.baseName = splitFileName(info.name).baseName;
        return info;
    }

    QString make(const QString& name, const QStringList& arguments)
    {
        const QString path = dir.filePath("in/" + name);
        const int status = runProgram(QStringLiteral("ffmpeg"),
                                      QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"} + arguments
                                          + QStringList{"file:" + path});
        EXPECT_EQ(status, 0) << name.toStdString();
        return path;
    }

    // testsrc2 at 160x120, clipRate fps, with a sine, H.264 and AAC.
    // `inputs` come after the picture and the sound, as inputs 2 and on.
    QString clip(const QString& name, double seconds = 2.0, const QString& size = "160x120",
                 const QStringList& extra = {}, const QStringList& inputs = {})
    {
        const QString d = QString::number(seconds);
        return make(name, QStringList{"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=" + QString::number(clipRate) + ":duration=" + d, "-f",
                                      "lavfi", "-i", "sine=frequency=440:duration=" + d}
                              + inputs + QStringList{"-c:v", "libx264",
                                      "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"}
                              + extra);
    }

    QString tone(const QString& name, double seconds = 2.0, const QStringList& extra = {})
    {
        return make(name, QStringList{"-f", "lavfi", "-i", "sine=frequency=440:duration=" + QString::number(seconds)}
                              + extra);
    }

    static QByteArray probe(const QStringList& arguments)
    {
        QByteArray output;
        EXPECT_EQ(runProgram(QStringLiteral("ffprobe"), QStringList{"-v", "error"} + arguments, &output), 0);
        return output.trimmed();
    }

    static QByteArray stream(const QString& path, const QString& select, const QString& entry)
    {
        return probe({"-select_streams", select, "-show_entries", "stream=" + entry, "-of", "csv=p=0",
                      "file:" + path});
    }

    static QByteArray format(const QString& path, const QString& entry)
    {
        return probe({"-show_entries", "format=" + entry, "-of", "csv=p=0", "file:" + path});
    }

    static double duration(const QString& path) { return format(path, "duration").toDouble(); }

    static QByteArray packets(const QString& path, const QString& select)
    {
        QByteArray output;
        EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"),
                             {"-nostdin", "-v", "error", "-i", "file:" + path, "-map", "0:" + select, "-c", "copy",
                              "-f", "md5", "-"},
                             &output),
                  0);
        return output.trimmed();
    }

    // The mean luma of the frame at `seconds`, to tell frames of testsrc2 apart.
    static QByteArray frameMD5(const QString& path, double seconds)
    {
        QByteArray output;
        EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"),
                             {"-nostdin", "-v", "error", "-ss", QString::number(seconds), "-i", "file:" + path,
                              "-frames:v", "1", "-f", "md5", "-"},
                             &output),
                  0);
        return output.trimmed();
    }

    QStringList outputs() const { return QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot); }
    QString out(const QString& name) const { return dir.filePath("out/" + name); }
    QStringList notes() const { return context.notes->messages(); }

    QTemporaryDir dir;
    int clipRate = 10;
    OperationContext context;
    Progress progress{100};
    MediaWork work;

    // Two seconds of a 1 kHz tone at half scale as DSD64 (2.8224 MHz, one bit, stereo), in a DSF
    // file: FFmpeg reads DSF but cannot write it. A first-order delta-sigma modulator makes the bits.
    static QByteArray dsfTone(double seconds)
    {
        const qint64 rate = 2822400;
        const qint64 samples = qint64(rate * seconds);
        const qint64 bytes = (samples + 7) / 8;
        const qint64 block = 4096;
        const qint64 blocks = (bytes + block - 1) / block;
        QByteArray bits(bytes, '\0');
        double sum = 0;
        double fed = 0;
        for (qint64 i = 0; i < samples; ++i) {
            sum += 0.5 * std::sin(2 * M_PI * 1000.0 * double(i) / double(rate)) - fed;
            const bool one = sum >= 0;
            fed = one ? 1.0 : -1.0;
            if (one)
                bits[i >> 3] = char(uchar(bits[i >> 3]) | (1 << (i & 7))); // least significant bit first
        }
        QByteArray data;
        for (qint64 b = 0; b < blocks; ++b) {
            const QByteArray piece = bits.mid(b * block, block).leftJustified(block, char(0x69)); // 0x69: DSD silence
            data += piece + piece;
        }
        const auto le32 = [](quint32 v) { QByteArray b(4, '\0'); qToLittleEndian(v, b.data()); return b; };
        const auto le64 = [](quint64 v) { QByteArray b(8, '\0'); qToLittleEndian(v, b.data()); return b; };
        const QByteArray layout = "fmt " + le64(52) + le32(1) + le32(0) + le32(2) + le32(2) + le32(quint32(rate)) + le32(1)
            + le64(quint64(samples)) + le32(quint32(block)) + le32(0);
        const QByteArray chunk = "data" + le64(quint64(12 + data.size())) + data;
        return "DSD " + le64(28) + le64(quint64(28 + layout.size() + chunk.size())) + le64(0) + layout + chunk;
    }
};

} // namespace qv::test
