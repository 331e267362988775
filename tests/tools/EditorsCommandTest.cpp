#include "support/DevDriver.h"
#include "support/ImageTestImages.h"
#include "support/PdfFixtures.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

QString json(const QJsonValue& value)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

QStringList leftoverFrames(const QString& home)
{
    return QDir(home + QStringLiteral("/cache/quorvenda/tmp")).entryList({"*.png"}, QDir::Files);
}

// Three seconds of 320 x 240: red for one, then green.
QString redThenGreen(const QString& path)
{
    EXPECT_EQ(runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                    "color=c=red:size=320x240:rate=25:duration=1", "-f", "lavfi", "-i",
                                    "color=c=green:size=320x240:rate=25:duration=2", "-filter_complex",
                                    "[0][1]concat=n=2:v=1", "-c:v", "libx264", "-pix_fmt", "yuv420p", "file:" + path}),
              0);
    return path;
}

// A 4000 x 3000 JPEG, its left half red and its right half blue.
QString halfRedPhoto(const QString& path)
{
    QImage image(4000, 3000, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, 2000, 3000, Qt::red);
    EXPECT_TRUE(image.save(path, "JPEG", 90));
    return path;
}

QImage renderedPage(const QString& pdf, int page, const QString& dir)
{
    const QString prefix = dir + QStringLiteral("/rendered");
    runProgram("pdftoppm", {"-r", "72", "-f", QString::number(page), "-l", QString::number(page), "-png",
                            "-singlefile", pdf, prefix});
    return QImage(prefix + QStringLiteral(".png"));
}

} // namespace

TEST(EditorsCommand, CropOfAPhotoSubmitsTheSquareInWholePixels)
{
    QTemporaryDir dir;
    const QString photo = halfRedPhoto(dir.filePath("photo.jpg"));
    int code = -1;
    // Every crop entry opens the same editor; the image one runs the job when the catalogue has it.
    runEditCommand({"tool.image.crop", photo, "--no-run"}, dir.path(), &code);
    const bool imageCrop = code != 2;
    const QString id = imageCrop ? "tool.image.crop" : "tool.video.crop";
    QStringList run = imageCrop ? QStringList() : QStringList{"--no-run"};
    const QString shot = dir.filePath("shot.png");
    const QJsonObject result =
        runEditCommand(QStringList{id, photo, "--screenshot", shot, "--do", R"([["click","1:1"],["apply"]])"} + run, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result["title"].toString(), "Crop photo.jpg");
    EXPECT_TRUE(stringList(result["texts"]).contains(QStringLiteral("2700 × 2700 px")));
    EXPECT_EQ(json(result["submitted"]), R"([{"cropRect":[[650,150],[2700,2700]]}])");
    // The picture fills 613 x 460 below the margins; outside the frame it is dimmed.
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    const int top = 18 + 8, left = (image.width() - 613) / 2;
    EXPECT_GT(image.pixelColor(left + 200, top + 230).red(), 220);    // inside, red
    EXPECT_LT(image.pixelColor(left + 40, top + 230).red(), 150);     // outside, dimmed red
    EXPECT_GT(image.pixelColor(left + 40, top + 230).red(), 80);
    EXPECT_LT(image.pixelColor(left + 590, top + 230).blue(), 150);   // outside, dimmed blue
    EXPECT_EQ(image.pixelColor(left + 620, top + 230).blue(), image.pixelColor(5, 5).blue()); // past the picture

    const QJsonObject moved = runEditCommand({id, photo, "--no-run", "--do",
                                    R"([["click","1:1"],["drag","picture",["picture",3,0.5]],["apply"]])"},
                                   dir.path(), &code);
    EXPECT_EQ(json(moved["submitted"]), R"([{"cropRect":[[1300,150],[2700,2700]]}])");
    if (!imageCrop)
        GTEST_SKIP() << "no image crop in the catalogue yet to write the file";
    const QString output = dir.filePath("photo (cropped).jpg");
    EXPECT_EQ(vipsField(output, "width"), "2700");
    EXPECT_EQ(vipsField(output, "height"), "2700");
}

TEST(EditorsCommand, CropOfAVideoShowsItsMiddleFrameAndLeavesNoFrameBehind)
{
    QTemporaryDir dir;
    const QString clip = redThenGreen(dir.filePath("clip.mp4"));
    int code = -1;
    const QString shot = dir.filePath("shot.png");
    const QJsonObject shown = runEditCommand({"tool.video.crop", clip, "--screenshot", shot}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shown["title"].toString(), "Crop clip.mp4");
    EXPECT_TRUE(stringList(shown["texts"]).contains(QStringLiteral("256 × 192 px")));
    // The middle of the clip is green, inside the frame and so not dimmed.
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    const QColor centre = image.pixelColor(image.width() / 2, 18 + 8 + 230);
    EXPECT_GT(centre.green(), 90);
    EXPECT_LT(centre.red(), 60);

    const QJsonObject result =
        runEditCommand({"tool.video.crop", clip, "--do",
              R"([["click","9:16"],["drag","bottomRight",["picture",1.6,1.6]],["drag","picture",["picture",2,2]],["apply"]])"},
             dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QJsonArray rect = result["submitted"].toObject()["cropRect"].toArray();
    ASSERT_EQ(rect.size(), 2);
    const int x = rect[0].toArray()[0].toInt(), y = rect[0].toArray()[1].toInt();
    const int w = rect[1].toArray()[0].toInt(), h = rect[1].toArray()[1].toInt();
    EXPECT_GE(x, 0);
    EXPECT_GE(y, 0);
    EXPECT_LE(x + w, 320);
    EXPECT_LE(y + h, 240);
    EXPECT_GE(w, 2);
    EXPECT_EQ(result["submitted"].toObject().size(), 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("clip (cropped).mp4")));
    EXPECT_EQ(leftoverFrames(dir.path()), QStringList());

    // A name FFmpeg could take for an option or a protocol reaches it as a file.
    const QString awkward = dir.filePath(QStringLiteral("-ünï 'q' http:clip.mp4"));
    ASSERT_TRUE(QFile::copy(clip, awkward));
    const QJsonObject odd = runEditCommand({"tool.video.crop", awkward, "--no-run"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(odd["opened"].toBool());
    EXPECT_EQ(leftoverFrames(dir.path()), QStringList());
}

TEST(EditorsCommand, AnUnreadablePictureOrVideoOpensNoCropEditor)
{
    QTemporaryDir dir;
    int code = -1;
    const QString bad = writeFile(dir.filePath("bad.jpg"), "not a picture at all");
    // The image crop routes the same way; the video entry is the one always there.
    const QJsonObject picture = runEditCommand({"tool.video.crop", bad}, dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(picture["opened"].toBool());
    EXPECT_EQ(stringList(picture["toasts"]), QStringList{"Couldn't open bad.jpg for cropping"});

    const QString clip = redThenGreen(dir.filePath("whole.mp4"));
    QFile whole(clip);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    writeFile(dir.filePath("-broken 'clip'.mp4"), whole.read(600));
    const QJsonObject video = runEditCommand({"tool.video.crop", dir.filePath("-broken 'clip'.mp4")}, dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(stringList(video["toasts"]), QStringList{"Couldn't open -broken 'clip'.mp4 for cropping"});
    EXPECT_EQ(leftoverFrames(dir.path()), QStringList());
}

TEST(EditorsCommand, PagesDraggedIntoANewOrderAreSavedInThatOrder)
{
    QTemporaryDir dir;
    const QString four = writeTextPdf(dir.filePath("four.pdf"), {"One", "Two", "Three", "Four"});
    int code = -1;
    const QJsonObject untouched = runEditCommand({"tool.pdf.reorder", four}, dir.path(), &code);
    EXPECT_EQ(untouched["title"].toString(), "Reorder four.pdf");
    EXPECT_TRUE(stringList(untouched["disabled"]).contains("Save Copy"));
    EXPECT_TRUE(stringList(untouched["disabled"]).contains("Restore"));

    const QJsonObject result =
        runEditCommand({"tool.pdf.reorder", four, "--do", R"([["drag","page:1","page:3"],["apply"]])"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(json(result["submitted"]), R"([{"pageOrder":[1,2,0,3]}])");
    EXPECT_EQ(pageTexts(dir.filePath("four (reordered).pdf")), (QStringList{"Two", "Three", "One", "Four"}));

    const QJsonObject closed =
        runEditCommand({"tool.pdf.reorder", four, "--do", R"([["click","Reverse"],["close"]])"}, dir.path(), &code);
    EXPECT_TRUE(closed["submitted"].isNull());
}

TEST(EditorsCommand, ExtractPagesTakesTheTypedRanges)
{
    QTemporaryDir dir;
    const QString six = writeTextPdf(dir.filePath("six.pdf"), {"One", "Two", "Three", "Four", "Five", "Six"});
    int code = -1;
    const QJsonObject result =
        runEditCommand({"tool.pdf.extractPages", six, "--do", R"([["set","Pages","5-3, 1"],["apply"]])"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result["title"].toString(), "Extract Pages from six.pdf");
    EXPECT_TRUE(stringList(result["texts"]).contains("4 of 6 selected"));
    EXPECT_EQ(json(result["submitted"]), R"([{"pageOrder":[0,2,3,4]}])");
    // The engine names an extraction by its pages.
    const QString output = result["job"].toObject()["outputs"].toArray()[0].toString();
    EXPECT_EQ(output, dir.filePath("six (page 1, 3-5).pdf"));
    EXPECT_EQ(pageTexts(output), (QStringList{"One", "Three", "Four", "Five"}));

    const QJsonObject none =
        runEditCommand({"tool.pdf.extractPages", six, "--do", R"([["click","All"],["click","None"],["cancel"]])"}, dir.path(), &code);
    EXPECT_TRUE(stringList(none["texts"]).contains("0 of 6 selected"));
    EXPECT_TRUE(stringList(none["disabled"]).contains("Extract"));
}

TEST(EditorsCommand, APdfThatDoesNotOpenOpensNoEditor)
{
    QTemporaryDir dir;
    const QString four = writeTextPdf(dir.filePath("four.pdf"), {"One", "Two", "Three", "Four"});
    const QString locked = lockedCopy(four, dir.filePath("locked.pdf"), "secret");
    const QString junk = writeJunkPdf(dir.filePath("junk.pdf"));
    for (const char* id : {"tool.pdf.reorder", "tool.pdf.extractPages", "tool.pdf.redact"}) {
        SCOPED_TRACE(id);
        int code = -1;
        const QJsonObject result = runEditCommand({id, locked}, dir.path(), &code);
        EXPECT_EQ(code, 1);
        EXPECT_FALSE(result["opened"].toBool());
        EXPECT_EQ(stringList(result["toasts"]), QStringList{"Couldn't open locked.pdf"});
        const QJsonObject damaged = runEditCommand({id, junk}, dir.path(), &code);
        EXPECT_EQ(stringList(damaged["toasts"]), QStringList{"Couldn't open junk.pdf"});
    }
}

TEST(EditorsCommand, ARedactionBoxBlacksOutTheWordUnderIt)
{
    QTemporaryDir dir;
    const QString doc = writeTextPdf(dir.filePath("doc.pdf"), {"SECRET", "Public"});
    // "SECRET" sits at (72, 700) in 24-point type on a 612 x 792 page; fractions of the page.
    const double left = 60 / 612.0, right = 200 / 612.0, top = 1 - 730 / 792.0, bottom = 1 - 690 / 792.0;
    const QString actions = QStringLiteral(R"([["drag",["page:1",0.5,0.4],["page:1",0.502,0.6]],)"
                                           R"(["drag",["page:1",%1,%2],["page:1",%3,%4]],["apply"]])")
                                .arg(left, 0, 'f', 6)
                                .arg(top, 0, 'f', 6)
                                .arg(right, 0, 'f', 6)
                                .arg(bottom, 0, 'f', 6);
    int code = -1;
    const QJsonObject result = runEditCommand({"tool.pdf.redact", doc, "--do", actions}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result["title"].toString(), "Redact doc.pdf");
    EXPECT_TRUE(stringList(result["texts"]).contains("Redact 1 Area"));
    const QJsonObject redactions = result["submitted"].toObject()["redactions"].toObject();
    ASSERT_EQ(redactions.keys(), QStringList{"0"});
    const QJsonArray boxes = redactions["0"].toArray();
    ASSERT_EQ(boxes.size(), 1);
    const QJsonArray box = boxes[0].toArray();
    EXPECT_NEAR(box[0].toArray()[0].toDouble(), 60, 3);
    EXPECT_NEAR(box[0].toArray()[1].toDouble(), 690, 3);
    EXPECT_NEAR(box[1].toArray()[0].toDouble(), 140, 3);
    EXPECT_NEAR(box[1].toArray()[1].toDouble(), 40, 3);

    const QString output = dir.filePath("doc (redacted).pdf");
    const QStringList texts = pageTexts(output);
    ASSERT_EQ(texts.size(), 2);
    EXPECT_FALSE(texts[0].contains("SECRET"));
    EXPECT_EQ(texts[1], "Public");
    const QImage page = renderedPage(output, 1, dir.path());
    ASSERT_FALSE(page.isNull());
    EXPECT_LT(page.pixelColor(130, 792 - 710).lightness(), 30);
    EXPECT_GT(page.pixelColor(300, 400).lightness(), 225);
}

TEST(EditorsCommand, RedactionBoxesFollowTheTurnOfTheirPage)
{
    QTemporaryDir dir;
    FixtureDocument document;
    document.pages = {FixturePage(QStringLiteral("SECRET"), 612, 792, 90)};
    const QString turned = writeFixturePdf(dir.filePath("turned.pdf"), document);
    // Turned a quarter clockwise, the page shows 792 wide: page (x, y) sits at (y, x) from the top left.
    const QString actions = QStringLiteral(R"([["drag",["page:1",%1,%2],["page:1",%3,%4]],["apply"]])")
                                .arg(690 / 792.0, 0, 'f', 6)
                                .arg(60 / 612.0, 0, 'f', 6)
                                .arg(730 / 792.0, 0, 'f', 6)
                                .arg(200 / 612.0, 0, 'f', 6);
    int code = -1;
    const QJsonObject result = runEditCommand({"tool.pdf.redact", turned, "--do", actions}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QJsonArray box = result["submitted"].toObject()["redactions"].toObject()["0"].toArray()[0].toArray();
    ASSERT_EQ(box.size(), 2);
    EXPECT_NEAR(box[0].toArray()[0].toDouble(), 60, 3);
    EXPECT_NEAR(box[0].toArray()[1].toDouble(), 690, 3);
    EXPECT_NEAR(box[1].toArray()[0].toDouble(), 140, 3);
    EXPECT_NEAR(box[1].toArray()[1].toDouble(), 40, 3);
    EXPECT_FALSE(pageTexts(dir.filePath("turned (redacted).pdf")).join(' ').contains("SECRET"));
}
