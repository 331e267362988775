#include "support/DevDriver.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

QString whitePng(const QString& path)
{
    QImage image(1000, 1000, QImage::Format_RGB32);
    image.fill(Qt::white);
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
}

bool reddish(QColor color)
{
    return color.red() > 180 && color.green() < 140 && color.blue() < 140;
}

QPointF point(const QJsonValue& value)
{
    const QJsonArray xy = value.toArray();
    return QPointF(xy[0].toDouble(), xy[1].toDouble());
}

} // namespace

TEST(AnnotateEditCommand, AnArrowOnThePictureIsSavedInFullSizePixels)
{
    QTemporaryDir dir;
    const QString file = whitePng(dir.filePath("pic.png"));
    const QString before = dir.filePath("before.png");
    const QString after = dir.filePath("after.png");
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.annotate", file, "--do",
                                   QString(R"([["screenshot","%1"],["drag",["picture",0.2,0.2],["picture",0.8,0.8]],)"
                                           R"(["screenshot","%2"],["apply"]])")
                                       .arg(before, after)},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(done["title"].toString(), "Annotate pic.png");
    EXPECT_EQ(done["picture"].toArray(), (QJsonArray{480, 480}));

    const QJsonObject submitted = done["submitted"].toObject();
    EXPECT_EQ(submitted.keys(), QStringList{"annotations"});
    const QJsonArray marks = submitted["annotations"].toArray();
    ASSERT_EQ(marks.size(), 1);
    const QJsonObject arrow = marks[0].toObject();
    EXPECT_EQ(arrow["kind"].toString(), "arrow");
    EXPECT_EQ(arrow["colorHex"].toString(), "#FF3B30");
    EXPECT_NEAR(arrow["lineWidth"].toDouble(), 1000.0 / 220, 1e-9);
    EXPECT_FALSE(arrow.contains("text"));
    EXPECT_FALSE(arrow.contains("fontSize"));
    const QJsonArray points = arrow["points"].toArray();
    ASSERT_EQ(points.size(), 2);
    EXPECT_NEAR(point(points[0]).x(), 200, 1);
    EXPECT_NEAR(point(points[0]).y(), 200, 1);
    EXPECT_NEAR(point(points[1]).x(), 800, 1);
    EXPECT_NEAR(point(points[1]).y(), 800, 1);

    const QImage copy(dir.filePath("pic (annotated).png"));
    ASSERT_EQ(copy.size(), QSize(1000, 1000));
    EXPECT_TRUE(reddish(copy.pixelColor(300, 300)));
    EXPECT_TRUE(reddish(copy.pixelColor(500, 500)));
    for (const QPoint corner : {QPoint(20, 20), QPoint(980, 20), QPoint(20, 980), QPoint(980, 980)})
        EXPECT_EQ(copy.pixelColor(corner), QColor(Qt::white)) << corner.x() << "," << corner.y();

    // The window shows the arrow in red too (the red swatch is there from the start).
    const auto redPixels = [](const QImage& screen) {
        int red = 0;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x)
                red += reddish(screen.pixelColor(x, y));
        return red;
    };
    const QImage shownBefore(before);
    const QImage shownAfter(after);
    ASSERT_FALSE(shownBefore.isNull());
    ASSERT_EQ(shownAfter.size(), shownBefore.size());
    EXPECT_GT(redPixels(shownAfter) - redPixels(shownBefore), 400);
}

TEST(AnnotateEditCommand, TextTypedButNotCommittedIsSaved)
{
    QTemporaryDir dir;
    const QString file = whitePng(dir.filePath("pic.png"));
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.annotate", file, "--do",
                                   R"([["click","Text"],["click",["picture",0.1,0.1]],["type","Hello"],["apply"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QJsonArray marks = done["submitted"].toObject()["annotations"].toArray();
    ASSERT_EQ(marks.size(), 1);
    const QJsonObject text = marks[0].toObject();
    EXPECT_EQ(text["kind"].toString(), "text");
    EXPECT_EQ(text["text"].toString(), "Hello");
    EXPECT_NEAR(text["fontSize"].toDouble(), 1000.0 / 28, 1e-9);
    const QJsonArray points = text["points"].toArray();
    ASSERT_EQ(points.size(), 1);
    EXPECT_NEAR(point(points[0]).x(), 100, 1);
    EXPECT_NEAR(point(points[0]).y(), 100, 1);

    // The text is drawn into the copy, in the editor's red.
    const QImage copy(dir.filePath("pic (annotated).png"));
    ASSERT_EQ(copy.size(), QSize(1000, 1000));
    int red = 0;
    for (int y = 100; y < 160; ++y)
        for (int x = 100; x < 250; ++x)
            red += reddish(copy.pixelColor(x, y));
    EXPECT_GT(red, 50);
}

TEST(AnnotateEditCommand, NothingDrawnLeavesSaveCopyDisabledAndCancelRunsNothing)
{
    QTemporaryDir dir;
    const QString file = whitePng(dir.filePath("pic.png"));
    int code = -1;
    const QJsonObject shown = runEditCommand({"tool.image.annotate", file, "--do", R"([["apply"],["cancel"]])"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    QStringList disabled;
    for (const QJsonValue& text : shown["disabled"].toArray())
        disabled.append(text.toString());
    EXPECT_TRUE(disabled.contains("Save Copy"));
    EXPECT_TRUE(shown["submitted"].isNull());
    EXPECT_FALSE(shown["stillOpen"].toBool());
    EXPECT_FALSE(QFile::exists(dir.filePath("pic (annotated).png")));
}

TEST(AnnotateEditCommand, AnUnreadablePictureOpensNoWindow)
{
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.jpg");
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write("this is no picture"), 18);
    out.close();
    int code = -1;
    const QJsonObject shown = runEditCommand({"tool.image.annotate", bad}, dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(shown["opened"].toBool());
    QStringList toasts;
    for (const QJsonValue& text : shown["toasts"].toArray())
        toasts.append(text.toString());
    EXPECT_EQ(toasts, QStringList{"Couldn't open bad.jpg"});
}

TEST(AnnotateEditCommand, ControlZTakesBackTheNewestMarkWhileTabAndSpaceCancelNothing)
{
    QTemporaryDir dir;
    const QString file = whitePng(dir.filePath("pic.png"));
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.annotate", file, "--no-run", "--do",
                                   R"([["click","Rectangle"],["drag",["picture",0.1,0.1],["picture",0.3,0.3]],)"
                                   R"(["click","Pen"],["drag",["picture",0.5,0.5],["picture",0.9,0.6]],)"
                                   R"(["key","Tab"],["key","Space"],["key","Ctrl+Z"],["apply"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QJsonArray marks = done["submitted"].toObject()["annotations"].toArray();
    ASSERT_EQ(marks.size(), 1);
    EXPECT_EQ(marks[0].toObject()["kind"].toString(), "rectangle");
}

TEST(AnnotateEditCommand, AHugePictureOpensFromAShrunkDecode)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("huge.jpg");
    ASSERT_EQ(QProcess::execute("vips", {"black", file, "20000", "20000", "--bands", "3"}), 0);
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.annotate", file, "--no-run", "--do",
                                   R"([["drag",["picture",0.5,0.5],["picture",1.0,1.0]],["apply"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(done["picture"].toArray(), (QJsonArray{480, 480}));
    const QJsonArray points = done["submitted"].toObject()["annotations"].toArray()[0].toObject()["points"].toArray();
    ASSERT_EQ(points.size(), 2);
    EXPECT_NEAR(point(points[0]).x(), 10000, 1);
    EXPECT_NEAR(point(points[1]).y(), 20000, 1);
}
