#include "support/DevDriver.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

QSet<QString> offered(const QString& file, const QString& home)
{
    const QString text = QString::fromUtf8(runDevDriver({"wheel", "convert", file}, home));
    QSet<QString> targets;
    static const QRegularExpression id(QStringLiteral("\"convert\\.image\\.([a-z0-9]+)\""));
    for (auto it = id.globalMatch(text); it.hasNext();)
        targets.insert(it.next().captured(1));
    return targets;
}

} // namespace

TEST(ImageRun, TheConvertWheelOffersEveryImageTarget)
{
    QTemporaryDir dir;
    const QString photo = writeHalfTransparentPng(dir.filePath("photo.png"));
    EXPECT_EQ(offered(photo, dir.path()),
              (QSet<QString>{"jpg", "heic", "webp", "avif", "pdf", "tiff", "gif", "bmp", "ico", "icns", "jp2",
                             "psd", "tga"}));
}

TEST(ImageRun, EachTargetIsWrittenBesideThePhoto)
{
    QTemporaryDir dir;
    const QString photo = writeHalfTransparentPng(dir.filePath("photo.png"));
    for (const QString ext : {"jpg", "webp", "ico", "pdf", "tga"}) {
        int code = -1;
        const QJsonObject result =
            lastJsonLine(runDevDriver({"run", "convert.image." + ext, photo}, dir.path(), &code));
        EXPECT_EQ(code, 0) << ext.toStdString();
        EXPECT_EQ(result.value("state").toString(), "finished") << ext.toStdString();
        EXPECT_EQ(result.value("outputs").toArray().first().toString(), dir.filePath("photo." + ext));
    }
    EXPECT_EQ(vipsField(dir.filePath("photo.jpg"), "width"), "400");
    EXPECT_EQ(runProgram("qpdf", {"--check", dir.filePath("photo.pdf")}), 0);
}

TEST(ImageRun, ADamagedPngFailsAndLeavesNothingBesideIt)
{
    QTemporaryDir dir;
    const QByteArray bytes = "\x89PNG\r\n\x1a\n this is not the rest of a picture";
    const QString damaged = writeFile(dir.filePath("damaged.png"), bytes);
    int code = -1;
    const QJsonObject result = lastJsonLine(runDevDriver({"run", "convert.image.jpg", damaged}, dir.path(), &code));
    EXPECT_NE(code, 0);
    EXPECT_TRUE(QJsonDocument(result).toJson().contains("This file is damaged or not in a supported format"));
    QStringList names = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(names, QStringList{"damaged.png"});
    EXPECT_EQ(readFile(damaged), bytes);
}
