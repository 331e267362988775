// The real programs a worker starts keep working behind its walls: Ghostscript, LibreOffice
// (its pipe included), FFmpeg, pandoc and Tesseract, through the same road the application
// takes, in the workers' own namespaces and without them (where Landlock narrows the reads).
#include "support/DevDriver.h"
#include "support/NamespacesChoice.h"
#include "support/ScanFixtures.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <optional>

using namespace qv::test;

namespace {

bool installed(const char* program)
{
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

class WallsRun : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { namespaces.emplace(GetParam()); }
    void TearDown() override { namespaces.reset(); }

private:
    std::optional<qv::test::NamespacesChoice> namespaces;
};

} // namespace

TEST_P(WallsRun, GhostscriptLibreOfficeFFmpegAndPandocWorkBehindTheWalls)
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

TEST_P(WallsRun, TesseractAndTheSubjectModelWorkBehindTheWalls)
{
    if (!installed("tesseract"))
        GTEST_SKIP() << "tesseract is not installed";
    QTemporaryDir home;
    QTemporaryDir dir;
    const QString note = dir.filePath(QStringLiteral("note.png"));
    ASSERT_TRUE(scanPicture({{QStringLiteral("Walls hold fast")}, 44, {}}, {900, 300}).save(note));
    const DriverRun text = runDriverJob({QStringLiteral("tool.image.extractText"), note}, home.path());
    ASSERT_EQ(text.code, 0) << text.failure().toStdString();
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("note (text).txt"))).trimmed(), "Walls hold fast");

    // The model is large and slow at the workers' priority: tried once, where Landlock alone
    // decides what is read (in the namespaces, the photo editor's own tests cut subjects out).
    if (GetParam())
        return;
    if (!QFileInfo::exists(QStringLiteral(QV_BUILD_DIR "/share/quorvenda/subject-mask.onnx")))
        GTEST_SKIP() << "the subject model is not downloaded";
    const QString disc = dir.filePath(QStringLiteral("disc.jpg"));
    QImage light(400, 300, QImage::Format_RGB32);
    light.fill(QColor(235, 235, 230));
    {
        QPainter painter(&light);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(30, 30, 40));
        painter.drawEllipse(QPointF(200, 150), 90, 90);
    }
    ASSERT_TRUE(light.save(disc, "JPEG", 92));
    int code = -1;
    const QJsonObject done = runEditCommand({QStringLiteral("tool.image.edit"), disc, QStringLiteral("--do"),
                                             QStringLiteral(R"([["set","Remove background",true],["click","Export"],["apply"]])")},
                                            home.path(), &code);
    EXPECT_EQ(code, 0);
    const QImage cut(dir.filePath(QStringLiteral("disc (edited).png")));
    ASSERT_FALSE(cut.isNull()) << stringList(done.value(QStringLiteral("texts"))).join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(qAlpha(cut.pixel(2, 2)), 0);
    EXPECT_EQ(qAlpha(cut.pixel(200, 150)), 255);
}

INSTANTIATE_TEST_SUITE_P(Walls, WallsRun, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Namespaces") : std::string("WithoutNamespaces");
                         });
