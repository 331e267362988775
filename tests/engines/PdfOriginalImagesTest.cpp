#include "support/TestFiles.h"

#include "engines/pdf/PdfOriginalImages.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

// The image objects pdfimages lists and the pictures it draws out of them, in page order.
QList<QImage> pictures(const QString& pdf, const QString& folder, QSet<QByteArray>* objects, QSet<QByteArray>* codings)
{
    QByteArray output;
    if (runProgram("pdfimages", {"-list", pdf}, &output) != 0)
        return {};
    for (const QByteArray& row : output.split('\n').mid(2)) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() >= 12) {
            codings->insert(fields[8]);
            objects->insert(fields[10]);
        }
    }
    QDir().mkpath(folder);
    if (runProgram("pdfimages", {"-png", pdf, folder + "/img"}, &output) != 0)
        return {};
    QList<QImage> images;
    for (const QString& name : QDir(folder).entryList({"img-*.png"}, QDir::Files, QDir::Name))
        images.append(QImage(folder + '/' + name).convertToFormat(QImage::Format_RGB888));
    return images;
}

} // namespace

// A photo-like picture the painter coded as a JPEG at every use becomes one object, a smaller
// JPEG that draws exactly the same pixels; the text beside it stays.
TEST(PdfOriginalImages, PainterJpegsShareOneSmallerObject)
{
    QTemporaryDir dir;
    QImage noise(400, 300, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x + int(random.bounded(60))) % 256, (y + int(random.bounded(60))) % 256, int(random.bounded(256))));
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        QPainter painter(&writer);
        for (int page = 0; page < 3; ++page) {
            if (page > 0)
                writer.newPage();
            painter.drawText(QPointF(200, 200), QStringLiteral("Figure on page %1").arg(page + 1));
            // A copy each time, as the rich text's layout hands the painter a picture decoded anew.
            painter.drawImage(QRectF(200, 400, 4000, 3000), noise.copy());
        }
    }
    const QString painted = dir.filePath("painted.pdf");
    const QString shared = dir.filePath("shared.pdf");
    writeFile(painted, buffer.data());
    const QByteArray rewritten = PdfOriginalImages::restorePictures(buffer.data(), {});
    writeFile(shared, rewritten);
    EXPECT_LT(rewritten.size(), buffer.data().size() * 4 / 10) << "one object, smaller";

    QSet<QByteArray> paintedObjects, sharedObjects, codings;
    const QList<QImage> before = pictures(painted, dir.filePath("before"), &paintedObjects, &codings);
    const QList<QImage> after = pictures(shared, dir.filePath("after"), &sharedObjects, &codings);
    EXPECT_EQ(codings, QSet<QByteArray>{"jpeg"});
    ASSERT_EQ(before.size(), 3);
    EXPECT_EQ(paintedObjects.size(), 3);
    EXPECT_EQ(sharedObjects.size(), 1);
    ASSERT_EQ(after.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(after[i] == before[i]) << "picture " << i;

    QByteArray beforeText, afterText;
    ASSERT_EQ(runProgram("pdftotext", {painted, "-"}, &beforeText), 0);
    ASSERT_EQ(runProgram("pdftotext", {shared, "-"}, &afterText), 0);
    EXPECT_TRUE(afterText.contains("Figure on page 3"));
    EXPECT_EQ(afterText, beforeText);
}
