#include "engines/vision/VisionEngine.h"
#include "model/errors/CancellationError.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

using namespace qv;

namespace {

QImage qrCode(const std::string& payload, int side = 240)
{
    const ZXing::BitMatrix bits = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                                      .setMargin(0)
                                      .encode(payload, side, side);
    const auto modules = ZXing::ToMatrix<uint8_t>(bits);
    QImage image(modules.width(), modules.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < modules.height(); ++y) {
        for (int x = 0; x < modules.width(); ++x)
            image.scanLine(y)[x] = modules.get(x, y);
    }
    return image;
}

// Codes drawn on a white sheet at the given top-left corners.
QImage sheet(const QList<std::pair<QImage, QPoint>>& codes, QColor paper = Qt::white)
{
    QImage image(900, 900, QImage::Format_ARGB32);
    image.fill(paper);
    QPainter painter(&image);
    for (const auto& [code, at] : codes)
        painter.drawImage(at, code);
    return image;
}

DetectedCode code(const char* payload, double centreY)
{
    return {QString::fromUtf8(payload), QStringLiteral("QRCode"), QRectF(0.1, centreY - 0.05, 0.1, 0.1)};
}

QStringList payloads(const DetectedCodes& codes)
{
    QStringList list;
    for (const DetectedCode& found : codes)
        list.append(found.payload);
    return list;
}

} // namespace

TEST(VisionCodes, OrderedTopFirstEachPayloadOnce)
{
    const DetectedCodes found{code("low", 0.2), code("high", 0.8), code("", 0.9), code("low", 0.6),
                              code("middle", 0.5), code("level", 0.5)};
    EXPECT_EQ(payloads(VisionEngine::orderedCodes(found)),
              (QStringList{"high", "low", "middle", "level"}));
    EXPECT_TRUE(VisionEngine::orderedCodes({}).isEmpty());
}

TEST(VisionCodes, SameCodePrintedTwiceGivesOnePayload)
{
    const QImage qr = qrCode("https://example.org/menu");
    const DetectedCodes codes = VisionEngine::detectBarcodes(sheet({{qr, {60, 300}}, {qr, {560, 320}}}), {});
    ASSERT_EQ(payloads(codes), QStringList{"https://example.org/menu"});
    EXPECT_EQ(codes.first().format, QStringLiteral("QRCode"));
    // Lower-left origin: the code's box spans rows 300...540 of 900 from the top.
    EXPECT_NEAR(codes.first().box.y() + codes.first().box.height(), 1 - 300.0 / 900, 0.05);
}

TEST(VisionCodes, UpperCodeComesFirst)
{
    // The lower code stands further left, where a scan line by line would meet it first.
    const QImage image = sheet({{qrCode("lower left"), {40, 560}}, {qrCode("upper right"), {600, 60}}});
    EXPECT_EQ(payloads(VisionEngine::detectBarcodes(image, {})), (QStringList{"upper right", "lower left"}));
}

TEST(VisionCodes, TransparentBackgroundReadsAsWhite)
{
    QImage qr = qrCode("on glass").convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < qr.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(qr.scanLine(y));
        for (int x = 0; x < qr.width(); ++x) {
            if (qRed(pixel[x]) > 128)
                pixel[x] = qRgba(0, 0, 0, 0); // transparent black, as many editors save it
        }
    }
    EXPECT_EQ(payloads(VisionEngine::detectBarcodes(sheet({{qr, {300, 300}}}, Qt::transparent), {})),
              QStringList{"on glass"});
}

TEST(VisionCodes, BlankOrStoppedFindsNothing)
{
    EXPECT_TRUE(VisionEngine::detectBarcodes(sheet({}), {}).isEmpty());
    EXPECT_TRUE(VisionEngine::detectBarcodes(QImage(), {}).isEmpty());
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(VisionEngine::detectBarcodes(sheet({{qrCode("x"), {0, 0}}}), stopped.get_token()),
                 CancellationError);
}
