// The real programs a worker starts keep working behind its walls: Ghostscript, LibreOffice
// (its pipe included), FFmpeg and pandoc, through the same road the application takes.
#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

bool installed(const char* program)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

} // namespace

TEST(WallsRun, GhostscriptLibreOfficeFFmpegAndPandocWorkBehindTheWalls)
{
    for (const char* program : {"gs", "soffice", "ffmpeg", "ffprobe", "pandoc", "pdfinfo"}) {
        if (!installed(program))
            GTEST_SKIP() << program << " is not installed";
    }
    QTemporaryDir home;
    QTemporaryDir dir;
    const QString notes = writeFile(dir.filePath(QStringLiteral("notes.md")), "# Walls\n\nThey hold.\n");
    ASSERT_EQ(runProgram(QStringLiteral("pandoc"), {notes, QStringLiteral("-o"), dir.filePath(QStringLiteral("letter.docx"))}), 0);
    ASSERT_EQ(runProgram(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                    QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=1"),
                                                    dir.filePath(QStringLiteral("tone.wav"))}),
              0);

    // pandoc reads the Word file.
    const DriverRun markdown = runDriverJob({QStringLiteral("convert.document.md"), dir.filePath(QStringLiteral("letter.docx"))}, home.path());
    ASSERT_EQ(markdown.code, 0) << markdown.failure().toStdString();
    ASSERT_EQ(markdown.outputs().size(), 1);
    EXPECT_TRUE(readFile(markdown.outputs().first()).contains("They hold.")) << readFile(markdown.outputs().first()).toStdString();

    // LibreOffice writes the old Word format.
    const DriverRun doc = runDriverJob({QStringLiteral("convert.document.doc"), dir.filePath(QStringLiteral("letter.docx"))}, home.path());
    ASSERT_EQ(doc.code, 0) << doc.failure().toStdString();
    ASSERT_EQ(doc.outputs().size(), 1);
    EXPECT_GT(QFileInfo(doc.outputs().first()).size(), 0);

    // FFmpeg encodes the sound.
    const DriverRun mp3 = runDriverJob({QStringLiteral("convert.audio.mp3"), dir.filePath(QStringLiteral("tone.wav"))}, home.path());
    ASSERT_EQ(mp3.code, 0) << mp3.failure().toStdString();
    ASSERT_EQ(mp3.outputs().size(), 1);
    QByteArray probed;
    runProgram(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                           QStringLiteral("format=format_name"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                                           mp3.outputs().first()},
               &probed);
    EXPECT_EQ(probed.trimmed(), "mp3");

    // Ghostscript compresses a PDF made here.
    const DriverRun pdf = runDriverJob({QStringLiteral("convert.document.pdf"), notes}, home.path());
    ASSERT_EQ(pdf.code, 0) << pdf.failure().toStdString();
    ASSERT_EQ(pdf.outputs().size(), 1);
    const DriverRun compressed = runDriverJob({QStringLiteral("tool.pdf.compress"), pdf.outputs().first()}, home.path());
    ASSERT_EQ(compressed.code, 0) << compressed.failure().toStdString();
    ASSERT_EQ(compressed.outputs().size(), 1);
    EXPECT_EQ(runProgram(QStringLiteral("pdfinfo"), {compressed.outputs().first()}), 0);

    // Results beside their sources, and nothing else: no work folder left.
    for (const QString& name : QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << name.toStdString();
}
