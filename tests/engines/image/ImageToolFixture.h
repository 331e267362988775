#pragma once

#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"
#include "model/operations/Progress.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>

namespace qv::test {

// Work files in work/, results in out/ under the name the tool chose, inputs in in/.
class ImageToolFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(dir.path()).mkpath("in"));
        ASSERT_TRUE(QDir(dir.path()).mkpath("work"));
        ASSERT_TRUE(QDir(dir.path()).mkpath("out"));
        context.notes = std::make_shared<JobNotes>();
        work.progress = &progress;
        work.workFile = [this](const QString& extension) {
            return QUrl::fromLocalFile(dir.filePath("work/" + QUuid::createUuid().toString(QUuid::WithoutBraces)
                                                    + "." + extension));
        };
        work.place = [this](const QUrl& file, const QString& extension) {
            return work.deliver(file, work.baseName, extension);
        };
        work.deliver = [this](const QUrl& file, const QString& baseName, const QString& extension) {
            const QString target = dir.filePath("out/" + baseName + "." + extension);
            EXPECT_FALSE(QFile::exists(target));
            EXPECT_TRUE(QFile::rename(file.toLocalFile(), target));
            return QUrl::fromLocalFile(target);
        };
    }

    FileInfo input(const QString& path)
    {
        FileInfo file = fileInfoForURL(QUrl::fromLocalFile(path));
        work.baseName = file.baseName;
        return file;
    }

    QString in(const QString& name) const { return dir.filePath("in/" + name); }
    QStringList outputs() const { return QDir(dir.filePath("out")).entryList(QDir::Files); }
    QStringList leftovers() const { return QDir(dir.filePath("work")).entryList(QDir::Files); }

    static QImage noise(int width, int height, bool alpha = false)
    {
        QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                line[x] = qRgba(int(random.bounded(256)), (x * 255) / width, (y * 255) / height,
                                alpha ? (x < width / 2 ? 255 : 0) : 255);
        }
        return image;
    }

    // Left half red, right half blue: shows turns and mirrors.
    static QImage halves(int width, int height)
    {
        QImage image(width, height, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.fillRect(0, 0, width / 2, height, Qt::red);
        painter.fillRect(width / 2, 0, width - width / 2, height, Qt::blue);
        return image;
    }

    static QColor pixel(const QString& path, int x, int y)
    {
        return ImageDecoder::decode(path).toQImage().pixelColor(x, y);
    }

    // The bytes from the first start-of-scan marker on: the picture data of a JPEG.
    static QByteArray scanData(const QString& path)
    {
        const QByteArray bytes = readFile(path);
        const qsizetype at = bytes.indexOf(QByteArray("\xFF\xDA", 2));
        return at < 0 ? QByteArray() : bytes.mid(at);
    }

    QTemporaryDir dir;
    Progress progress{100};
    ImageWork work;
    OperationContext context;
};

} // namespace qv::test
