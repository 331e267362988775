#include "support/DevDriver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>

using namespace qv::test;

TEST(PhotoEstimateCommand, TheExportTabOfAnUntouchedJpegSaysTheCopyIsTheSame)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("photo.jpg");
    QImage image(4000, 3000, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(0, 0, 2000, 3000, Qt::red);
    ASSERT_TRUE(image.save(file, "JPEG", 70));

    int code = -1;
    const QJsonObject shown = lastJsonLine(
        runDevDriver({"edit", "tool.image.edit", file, "--do", R"([["click","Export"],["cancel"]])"}, dir.path(), &code));
    EXPECT_EQ(code, 0);
    const QStringList texts = stringList(shown["texts"]);
    EXPECT_TRUE(texts.contains("JPG, like the original")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("70 %, like the original")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains(
        "Nothing changes in the picture, so it is copied as it is. Move the slider to compress it."));
    const auto same = std::find_if(texts.begin(), texts.end(), [](const QString& text) {
        return text.endsWith(", the same");
    });
    ASSERT_NE(same, texts.end()) << texts.join(" | ").toStdString();
    EXPECT_FALSE(same->startsWith("about"));
    EXPECT_TRUE(shown["submitted"].isNull());
    // The trial copy is gone with the estimate.
    EXPECT_TRUE(QDir(dir.filePath("cache/quorvenda/tmp")).entryList({"estimate-*"}, QDir::Files).isEmpty());
}
