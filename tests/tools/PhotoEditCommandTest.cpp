#include "support/DevDriver.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

// 4000 x 3000, the left half red, saved at quality 70.
QString photo(const QString& path)
{
    QImage image(4000, 3000, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(0, 0, 2000, 3000, Qt::red);
    EXPECT_TRUE(image.save(path, "JPEG", 70));
    return path;
}

} // namespace

TEST(PhotoEditCommand, AnUntouchedPhotoShowsFittedWithNothingToSave)
{
    QTemporaryDir dir;
    const QString file = photo(dir.filePath("photo.jpg"));
    int code = -1;
    const QJsonObject shown = runEditCommand({"tool.image.edit", file, "--do", R"([["cancel"]])"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shown["title"].toString(), "Edit photo.jpg");
    EXPECT_TRUE(stringList(shown["disabled"]).contains("Save Copy"));
    EXPECT_TRUE(stringList(shown["disabled"]).contains("Reset All"));
    EXPECT_EQ(shown["picture"].toArray(), (QJsonArray{472, 354}));
    EXPECT_TRUE(shown["submitted"].isNull());
    EXPECT_FALSE(shown["stillOpen"].toBool());
}

TEST(PhotoEditCommand, AContrastChangeIsSavedAsACopyAndCompareHoldsTheOriginal)
{
    QTemporaryDir dir;
    const QString file = photo(dir.filePath("photo.jpg"));
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.edit", file, "--do",
                                   R"([["set","Contrast",10000],["press","Compare"],["release","Compare"],["apply"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QJsonObject submitted = done["submitted"].toObject();
    EXPECT_DOUBLE_EQ(submitted["photo"].toObject()["contrast"].toDouble(), 1.5);
    EXPECT_EQ(submitted["stripMetadata"], QJsonValue(false));
    const QImage copy(dir.filePath("photo (edited).jpg"));
    EXPECT_EQ(copy.size(), QSize(4000, 3000));
}

TEST(PhotoEditCommand, AnUnreadablePictureOpensNoWindow)
{
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.jpg");
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write("this is no picture"), 18);
    out.close();
    int code = -1;
    const QJsonObject shown = runEditCommand({"tool.image.edit", bad}, dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(shown["opened"].toBool());
    EXPECT_EQ(stringList(shown["toasts"]), QStringList{"Couldn't open bad.jpg"});
}

TEST(PhotoEditCommand, ARightTurnIsSubmittedAloneAndTheCopyStandsUpright)
{
    QTemporaryDir dir;
    const QString file = photo(dir.filePath("photo.jpg"));
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.edit", file, "--do",
                                   R"([["click","Crop"],["click","Rotate right"],["apply"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(done["submitted"].toObject(), (QJsonObject{{"rotation", 90}, {"stripMetadata", false}}));
    QImageReader reader(dir.filePath("photo (edited).jpg"));
    reader.setAutoTransform(true);
    EXPECT_EQ(reader.read().size(), QSize(3000, 4000));
}

TEST(PhotoEditCommand, ATurnedPictureStandsUprightUntilCompareIsHeld)
{
    QTemporaryDir dir;
    const QString file = photo(dir.filePath("photo.jpg"));
    int code = -1;
    // What shows is reported as the last action leaves it, or just before Cancel.
    const QJsonObject held = runEditCommand({"tool.image.edit", file, "--do",
                                   R"([["click","Crop"],["click","Rotate right"],["press","Compare"],["cancel"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(held["picture"].toArray(), (QJsonArray{472, 354}));
    EXPECT_TRUE(held["submitted"].isNull());

    const QJsonObject released = runEditCommand({"tool.image.edit", file, "--do",
                                       R"([["click","Crop"],["click","Rotate right"],["press","Compare"],)"
                                       R"(["release","Compare"],["cancel"]])"},
                                      dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(released["picture"].toArray(), (QJsonArray{309, 412}));
}

TEST(PhotoEditCommand, ASquareCropIsSubmittedInFullSizePixels)
{
    QTemporaryDir dir;
    const QString file = photo(dir.filePath("photo.jpg"));
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.edit", file, "--do", R"([["click","Crop"],["click","1:1"],["apply"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QJsonObject submitted = done["submitted"].toObject();
    EXPECT_EQ(submitted["cropRect"].toArray(), (QJsonArray{QJsonArray{650, 150}, QJsonArray{2700, 2700}}));
    EXPECT_EQ(QImage(dir.filePath("photo (edited).jpg")).size(), QSize(2700, 2700));
}

TEST(PhotoEditCommand, ASquareHalvedAndSavedAsPng)
{
    QTemporaryDir dir;
    const QString file = photo(dir.filePath("photo.jpg"));
    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.edit", file, "--do",
                                   R"([["click","Crop"],["click","1:1"],["click","Size"],["click","Scale"],)"
                                   R"(["click","Export"],["set","Format","PNG"],["apply"]])"},
                                  dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(done["submitted"].toObject(),
              (QJsonObject{{"cropRect", QJsonArray{QJsonArray{650, 150}, QJsonArray{2700, 2700}}},
                           {"maxDimension", 1350},
                           {"outputFormat", "png"},
                           {"stripMetadata", false}}));
    EXPECT_EQ(QImage(dir.filePath("photo (edited).png")).size(), QSize(1350, 1350));
}
