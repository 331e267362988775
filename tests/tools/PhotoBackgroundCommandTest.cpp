#include "support/DevDriver.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QJsonDocument>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

bool anyContains(const QStringList& texts, const QString& part)
{
    return std::any_of(texts.begin(), texts.end(), [&](const QString& text) { return text.contains(part); });
}

// What vipsheader says of one field of a picture.
QString vipsField(const QString& path, const QString& field)
{
    QProcess vips;
    vips.start(QStringLiteral("vipsheader"), {QStringLiteral("-f"), field, path});
    if (!vips.waitForFinished(30000) || vips.exitCode() != 0)
        return {};
    return QString::fromUtf8(vips.readAllStandardOutput()).trimmed();
}

const QString removeBackground = QStringLiteral(R"([["set","Remove background",true],["click","Export"],["apply"]])");

} // namespace

TEST(PhotoBackgroundCommand, AFlatPictureHasNoSubjectAndTheSwitchTurnsBackOff)
{
    QTemporaryDir dir;
    const QString flat = dir.filePath("flat.jpg");
    QImage grey(600, 400, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    ASSERT_TRUE(grey.save(flat, "JPEG", 90));

    int code = -1;
    const QJsonObject shown = runEditCommand(
        {"tool.image.edit", flat, "--no-run", "--do", R"([["set","Remove background",true],["apply"]])"}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QStringList texts = stringList(shown["texts"]);
    EXPECT_TRUE(texts.contains("No subject found in this image")) << texts.join(" | ").toStdString();
    EXPECT_FALSE(anyContains(texts, "Finding the subject"));
    // The switch is off again; only the PNG it led to stays chosen.
    const QJsonObject submitted = shown["submitted"].toObject();
    EXPECT_FALSE(submitted.contains("removeBackground")) << QJsonDocument(submitted).toJson().toStdString();
    EXPECT_EQ(submitted["outputFormat"].toString(), "png");
}

TEST(PhotoBackgroundCommand, ADarkDiscIsCutOutIntoATransparentPng)
{
    QTemporaryDir dir;
    const QString disc = dir.filePath("disc.jpg");
    QImage light(600, 400, QImage::Format_RGB32);
    light.fill(QColor(235, 235, 230));
    {
        QPainter painter(&light);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(30, 30, 40));
        painter.drawEllipse(QPointF(300, 200), 120, 120);
    }
    ASSERT_TRUE(light.save(disc, "JPEG", 92));

    int code = -1;
    const QJsonObject done = runEditCommand({"tool.image.edit", disc, "--do", removeBackground}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    const QStringList texts = stringList(done["texts"]);
    EXPECT_TRUE(texts.contains("PNG keeps the transparent background.")) << texts.join(" | ").toStdString();
    EXPECT_TRUE(texts.contains("PNG")) << texts.join(" | ").toStdString();
    const QJsonObject submitted = done["submitted"].toObject();
    EXPECT_EQ(submitted["removeBackground"], QJsonValue(true));
    EXPECT_EQ(submitted["outputFormat"], QJsonValue("png"));

    const QString copy = dir.filePath("disc (edited).png");
    EXPECT_EQ(vipsField(copy, "bands"), "4");
    EXPECT_EQ(vipsField(copy, "width"), "600");
    EXPECT_EQ(vipsField(copy, "height"), "400");
    const QImage cut(copy);
    ASSERT_FALSE(cut.isNull());
    ASSERT_TRUE(cut.hasAlphaChannel());
    for (const QPoint corner : {QPoint(2, 2), QPoint(597, 2), QPoint(2, 397), QPoint(597, 397)})
        EXPECT_EQ(qAlpha(cut.pixel(corner)), 0) << corner.x() << "," << corner.y();
    EXPECT_EQ(qAlpha(cut.pixel(300, 200)), 255);
    EXPECT_LT(qGray(cut.pixel(300, 200)), 80);
}
