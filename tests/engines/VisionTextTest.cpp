#include "engines/vision/TextRecognizer.h"
#include "engines/vision/VisionEngine.h"
#include "model/errors/CancellationError.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFont>
#include <QPainter>

#include <atomic>
#include <stop_token>
#include <thread>

using namespace qv;

namespace {

RecognizedLine line(const char* text, double x, double y, double width, double height)
{
    return {QString::fromUtf8(text), QRectF(x, y, width, height)};
}

// A note as a phone photo of a page would show it: a bold heading, a wide gap, then a
// paragraph of two lines. `background` shows through where nothing is drawn.
QImage note(QColor background = Qt::white)
{
    QImage image(1400, 640, QImage::Format_ARGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    QFont heading(QStringLiteral("DejaVu Sans"));
    heading.setPixelSize(56);
    heading.setBold(true);
    painter.setFont(heading);
    painter.drawText(QPoint(80, 120), QStringLiteral("Quarterly Report"));
    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPixelSize(34);
    painter.setFont(body);
    painter.drawText(QPoint(80, 420), QStringLiteral("The quick brown fox jumps over"));
    painter.drawText(QPoint(80, 472), QStringLiteral("the lazy dog by the river"));
    painter.end();
    return image;
}

const QString kNoteText = QStringLiteral(
    "Quarterly Report\n\nThe quick brown fox jumps over\nthe lazy dog by the river");

// Threads of this process, leaving out Qt's own pool, which converts large pictures in parallel.
int threadCount()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    int count = 0;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() != "Thread (pooled)")
            ++count;
    }
    return count;
}

} // namespace

TEST(VisionJoinLines, RowsTopFirstWordsLeftToRight)
{
    // Two halves of one printed line, found right half first, and a line below them.
    const RecognizedLines lines{
        line("world", 0.5, 0.80, 0.2, 0.05),
        line("second row", 0.1, 0.72, 0.4, 0.05),
        line("hello", 0.1, 0.81, 0.2, 0.05),
    };
    EXPECT_EQ(VisionEngine::joinLines(lines), QStringLiteral("hello world\nsecond row"));
}

TEST(VisionJoinLines, WideGapMakesAnEmptyLine)
{
    // A gap of exactly 1.5 line heights stays one line feed; more gives a paragraph break.
    // Binary fractions keep the comparisons exact.
    const RecognizedLines lines{
        line("Heading", 0.1, 0.875, 0.5, 0.0625),
        line("first", 0.1, 0.5, 0.5, 0.0625),
        line("second", 0.1, 0.34375, 0.5, 0.0625),
        line("apart", 0.1, 0.125, 0.5, 0.0625),
    };
    EXPECT_EQ(VisionEngine::joinLines(lines), QStringLiteral("Heading\n\nfirst\nsecond\n\napart"));
}

TEST(VisionJoinLines, DriftingLineStartsANewRow)
{
    // The second line's centre is half a height below the first's: not the same row.
    const RecognizedLines slanted{line("left", 0.1, 0.5, 0.3, 0.0625), line("right", 0.5, 0.46875, 0.3, 0.0625)};
    EXPECT_EQ(VisionEngine::joinLines(slanted), QStringLiteral("left\nright"));
    const RecognizedLines level{line("right", 0.5, 0.4697265625, 0.3, 0.0625), line("left", 0.1, 0.5, 0.3, 0.0625)};
    EXPECT_EQ(VisionEngine::joinLines(level), QStringLiteral("left right"));
}

TEST(VisionJoinLines, NothingGivesEmptyText)
{
    EXPECT_EQ(VisionEngine::joinLines({}), QString());
    EXPECT_EQ(VisionEngine::joinLines({line("only", 0, 0, 1, 1)}), QStringLiteral("only"));
}

TEST(VisionText, ReadsHeadingGapAndParagraph)
{
    const RecognizedLines lines = VisionEngine::recognizeText(note(), 300, {});
    ASSERT_EQ(lines.size(), 3);
    for (const RecognizedLine& found : lines) {
        EXPECT_GE(found.box.x(), 0.0);
        EXPECT_GE(found.box.y(), 0.0);
        EXPECT_LE(found.box.x() + found.box.width(), 1.0);
        EXPECT_LE(found.box.y() + found.box.height(), 1.0);
    }
    const auto heading = std::find_if(lines.begin(), lines.end(), [](const RecognizedLine& found) {
        return found.text == QLatin1String("Quarterly Report");
    });
    ASSERT_NE(heading, lines.end());
    // Lower-left origin: the heading, 120 px from the top of 640, sits high up.
    EXPECT_GT(heading->box.y(), 0.75);
    EXPECT_NEAR(heading->box.x(), 80.0 / 1400, 0.01);
    EXPECT_EQ(VisionEngine::joinLines(lines), kNoteText);
}

TEST(VisionText, TransparentPictureReadsAsOnWhite)
{
    const RecognizedLines lines = VisionEngine::recognizeText(note(Qt::transparent), 300, {});
    EXPECT_EQ(VisionEngine::joinLines(lines), kNoteText);
}

TEST(VisionText, BlankPictureHasNoLines)
{
    QImage blank(800, 600, QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_TRUE(VisionEngine::recognizeText(blank, 300, {}).isEmpty());
    EXPECT_TRUE(VisionEngine::recognizeText(QImage(), 300, {}).isEmpty());
    EXPECT_TRUE(VisionEngine::recognizeText(QImage(2, 2, QImage::Format_RGB32), 72, {}).isEmpty());
}

TEST(VisionText, StopBeforeOrWhileRecognisingCancels)
{
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(VisionEngine::recognizeText(note(), 300, stopped.get_token()), CancellationError);

    std::stop_source source;
    int reports = 0;
    EXPECT_THROW(VisionEngine::recognizeText(note(), 300, source.get_token(),
                                             [&](double) {
                                                 ++reports;
                                                 source.request_stop();
                                             }),
                 CancellationError);
    EXPECT_EQ(reports, 1) << "recognition goes no further once stopped";

    // The thread's recogniser is still good for the next picture.
    EXPECT_EQ(VisionEngine::joinLines(VisionEngine::recognizeText(note(), 300, {})), kNoteText);
}

TEST(VisionText, WorkersStartNoHelperThreads)
{
    // Each worker recognises on its own thread alone; helpers would stay around after it.
    std::atomic<int> before = 0, after = 0;
    QString text;
    std::thread worker([&] {
        before = threadCount();
        text = VisionEngine::joinLines(VisionEngine::recognizeText(note(), 300, {}));
        after = threadCount();
    });
    worker.join();
    EXPECT_EQ(text, kNoteText);
    EXPECT_EQ(after.load(), before.load());
}

TEST(VisionText, EachThreadMakesOneRecognizerAndReusesIt)
{
    const QImage picture = note();
    const int before = TextRecognizer::recognizersMade();
    QStringList texts(3);
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&, i] {
            for (int round = 0; round < 2; ++round)
                texts[i] += VisionEngine::joinLines(VisionEngine::recognizeText(picture, 300, {}));
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    for (const QString& text : texts)
        EXPECT_EQ(text, kNoteText + kNoteText);
    EXPECT_EQ(TextRecognizer::recognizersMade() - before, 3);
}

TEST(VisionText, PictureWiderThanTheRecognizerTakesIsScaledDown)
{
    QImage strip(40000, 160, QImage::Format_Grayscale8);
    strip.fill(255);
    QPainter painter(&strip);
    painter.setPen(Qt::black);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(60);
    painter.setFont(font);
    painter.drawText(QPoint(20000, 100), QStringLiteral("Far along"));
    painter.end();
    const RecognizedLines lines = VisionEngine::recognizeText(strip, 300, {});
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.first().text, QStringLiteral("Far along"));
    EXPECT_NEAR(lines.first().box.x(), 0.5, 0.01);
}
