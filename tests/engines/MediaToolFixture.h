#pragma once

// Shared by the media tool tests: inputs made with lavfi, a work folder and an output folder
// standing in for the job's planner, and ffprobe checks.

#include "engines/media/MediaConversion.h"
#include "model/Capabilities.h"
#include "model/JobNotes.h"
#include "model/Progress.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
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
};

} // namespace qv::test
