#include "engines/vision/SubjectMasker.h"
#include "engines/vision/VisionEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <chrono>
#include <cmath>
#include <thread>

using namespace qv;

namespace {

const QColor kGrey(128, 128, 128);

// A red disc of radius 80 in the middle of a 400 x 300 grey picture, flat or with a fine
// grain that only a blur smooths away.
QImage grainyGrey(int grain)
{
    QImage image(400, 300, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int level = 128 + (grain ? int(seed >> 24) % (2 * grain + 1) - grain : 0);
            image.setPixel(x, y, qRgb(level, level, level));
        }
    }
    return image;
}

QImage redDisc(int grain = 0)
{
    QImage image = grainyGrey(grain);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(220, 20, 20));
    painter.drawEllipse(QPointF(200, 150), 80, 80);
    return image;
}

// How much the grey of a patch varies.
double spread(const QImage& image, const QRect& patch)
{
    double sum = 0, squares = 0;
    for (int y = patch.top(); y <= patch.bottom(); ++y) {
        for (int x = patch.left(); x <= patch.right(); ++x) {
            const double grey = qGray(image.pixel(x, y));
            sum += grey;
            squares += grey * grey;
        }
    }
    const double count = double(patch.width()) * patch.height();
    return std::sqrt(squares / count - (sum / count) * (sum / count));
}

QImage flatGrey()
{
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(kGrey);
    return image;
}

void expectNoSubject(const std::function<void()>& call)
{
    try {
        call();
        ADD_FAILURE() << "a subject was found";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("No subject found in this image"));
    }
}

// A mask whose opaque part covers the first `rows` rows.
class RowsMasker : public SubjectMasker {
public:
    explicit RowsMasker(int rows, QSize size = {}) : m_rows(rows), m_size(size) {}

    QImage subjectMask(const QImage& picture, const std::stop_token&) const override
    {
        seen = picture;
        QImage mask(m_size.isValid() ? m_size : picture.size(), QImage::Format_Alpha8);
        mask.fill(0);
        for (int y = 0; y < std::min(m_rows, mask.height()); ++y)
            std::fill_n(mask.scanLine(y), mask.width(), uchar(255));
        return mask;
    }

    mutable QImage seen;

private:
    int m_rows;
    QSize m_size;
};

} // namespace

TEST(VisionSubject, LiftsTheDiscOffTheGrey)
{
    if (!VisionEngine::canLiftSubjects())
        GTEST_SKIP() << "the subject model is not installed";
    for (const int grain : {0, 16}) {
        SCOPED_TRACE(grain);
        const QImage lifted = VisionEngine::liftSubject(redDisc(grain), {});
        ASSERT_EQ(lifted.size(), QSize(400, 300));
        EXPECT_EQ(lifted.format(), QImage::Format_ARGB32);
        for (const QPoint outside : {QPoint(0, 0), QPoint(399, 0), QPoint(0, 299), QPoint(399, 299), QPoint(60, 150)})
            EXPECT_EQ(qAlpha(lifted.pixel(outside)), 0) << outside.x() << "," << outside.y();
        for (const QPoint inside : {QPoint(200, 150), QPoint(140, 150), QPoint(200, 90), QPoint(255, 150)}) {
            EXPECT_EQ(qAlpha(lifted.pixel(inside)), 255) << inside.x() << "," << inside.y();
            EXPECT_EQ(QColor(lifted.pixel(inside)).rgb(), QColor(220, 20, 20).rgb());
        }
        // The edge is soft: some pixels along it are neither cut away nor kept whole.
        int soft = 0;
        for (int x = 100; x < 140; ++x)
            soft += qAlpha(lifted.pixel(x, 150)) > 0 && qAlpha(lifted.pixel(x, 150)) < 255;
        EXPECT_GE(soft, 1);
    }
}

TEST(VisionSubject, FindsAPhotographedBearStandingOnTheBottomEdge)
{
    if (!VisionEngine::canLiftSubjects())
        GTEST_SKIP() << "the subject model is not installed";
    // A bear cut out by hand, pasted on a photo of trees so that it stands on the bottom edge:
    // its own alpha is the true mask.
    const QImage bear(QStringLiteral(QV_SOURCE_DIR "/tests/files/subjects/european-bear.png"));
    QImage photo(QStringLiteral(QV_SOURCE_DIR "/tests/files/subjects/trees_at_dusk.jpg"));
    ASSERT_FALSE(bear.isNull());
    ASSERT_EQ(photo.size(), QSize(640, 480));
    photo = photo.convertToFormat(QImage::Format_RGB32);
    const QPoint at(150, photo.height() - bear.height());
    QPainter(&photo).drawImage(at, bear);

    const QImage mask = VisionEngine::subjectMask(photo, {}, VisionEngine::standardMasker());
    qint64 both = 0, either = 0;
    for (int y = 0; y < photo.height(); ++y) {
        for (int x = 0; x < photo.width(); ++x) {
            const QPoint inBear = QPoint(x, y) - at;
            const bool truth = bear.rect().contains(inBear) && qAlpha(bear.pixel(inBear)) >= 128;
            const bool found = qAlpha(mask.pixel(x, y)) >= 128;
            both += truth && found;
            either += truth || found;
        }
    }
    EXPECT_GE(double(both) / double(either), 0.9);
}

TEST(VisionSubject, FlatGreyOrAGradientHasNoSubject)
{
    if (!VisionEngine::canLiftSubjects())
        GTEST_SKIP() << "the subject model is not installed";
    QImage gradient(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            gradient.setPixel(x, y, qRgb(x * 255 / 399, y * 255 / 299, 160));
    expectNoSubject([&] { VisionEngine::liftSubject(gradient, {}); });
    expectNoSubject([] { VisionEngine::liftSubject(flatGrey(), {}); });
    expectNoSubject([] { VisionEngine::liftSubject(grainyGrey(16), {}); });
    expectNoSubject([] { VisionEngine::replaceBackground(flatGrey(), QStringLiteral("blur"), {}); });
    expectNoSubject([] { VisionEngine::liftSubject(QImage(), {}); });
}

TEST(VisionSubject, ColourBackgroundReplacesTheGrey)
{
    if (!VisionEngine::canLiftSubjects())
        GTEST_SKIP() << "the subject model is not installed";
    const QImage result = VisionEngine::replaceBackground(redDisc(), QStringLiteral("#00FF00"), {});
    ASSERT_EQ(result.size(), QSize(400, 300));
    EXPECT_FALSE(result.hasAlphaChannel());
    for (const QPoint outside : {QPoint(0, 0), QPoint(399, 299), QPoint(200, 5), QPoint(60, 150)})
        EXPECT_EQ(QColor(result.pixel(outside)), QColor(0, 255, 0)) << outside.x() << "," << outside.y();
    EXPECT_EQ(QColor(result.pixel(200, 150)), QColor(220, 20, 20));

    // Not a colour: white.
    const QImage white = VisionEngine::replaceBackground(redDisc(), QStringLiteral("abc"), {});
    EXPECT_EQ(QColor(white.pixel(0, 0)), QColor(Qt::white));
    EXPECT_EQ(QColor(white.pixel(200, 150)), QColor(220, 20, 20));
}

TEST(VisionSubject, BlurBackgroundSoftensAroundTheDisc)
{
    if (!VisionEngine::canLiftSubjects())
        GTEST_SKIP() << "the subject model is not installed";
    const QImage source = redDisc(16);
    const QImage result = VisionEngine::replaceBackground(source, QStringLiteral("blur"), {});
    ASSERT_EQ(result.size(), source.size());
    EXPECT_EQ(QColor(result.pixel(200, 150)), QColor(220, 20, 20));
    // The grain melts into an even grey; the grey stays grey.
    for (const QRect patch : {QRect(0, 0, 60, 60), QRect(330, 230, 70, 70)}) {
        EXPECT_GT(spread(source, patch), 8.0);
        EXPECT_LT(spread(result, patch), 2.0);
        EXPECT_NEAR(qGray(result.pixel(patch.center())), 128, 3);
    }

    EXPECT_DOUBLE_EQ(VisionEngine::backgroundBlurRadius(6000, 4000), 100.0);
    EXPECT_DOUBLE_EQ(VisionEngine::backgroundBlurRadius(600, 400), 12.0);
    EXPECT_DOUBLE_EQ(VisionEngine::backgroundBlurRadius(300, 900), 15.0);
}

TEST(VisionSubject, AlmostNothingOrAlmostEverythingIsNoSubject)
{
    EXPECT_FALSE(VisionEngine::isSubjectCoverage(0.0049));
    EXPECT_TRUE(VisionEngine::isSubjectCoverage(0.005));
    EXPECT_TRUE(VisionEngine::isSubjectCoverage(0.95));
    EXPECT_FALSE(VisionEngine::isSubjectCoverage(0.951));

    const QImage picture = flatGrey(); // 300 rows
    expectNoSubject([&] { VisionEngine::liftSubject(picture, {}, RowsMasker(1)); });   // 0.33 %
    expectNoSubject([&] { VisionEngine::liftSubject(picture, {}, RowsMasker(290)); }); // 96.7 %
    const QImage half = VisionEngine::liftSubject(picture, {}, RowsMasker(150));
    EXPECT_EQ(qAlpha(half.pixel(10, 149)), 255);
    EXPECT_EQ(qAlpha(half.pixel(10, 150)), 0);

    EXPECT_THROW(VisionEngine::liftSubject(picture, {}, RowsMasker(150, QSize(10, 10))), EngineError);
}

TEST(VisionSubject, TransparencyStaysAndTheMaskerSeesItOnWhite)
{
    QImage picture(100, 100, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    for (int y = 0; y < 100; ++y)
        picture.setPixel(10, y, qRgba(0, 0, 255, 128));
    const RowsMasker masker(50);
    const QImage lifted = VisionEngine::liftSubject(picture, {}, masker);
    EXPECT_EQ(masker.seen.format(), QImage::Format_RGB32);
    EXPECT_EQ(QColor(masker.seen.pixel(50, 50)), QColor(Qt::white));
    EXPECT_EQ(qAlpha(lifted.pixel(10, 10)), 128);
    EXPECT_EQ(qAlpha(lifted.pixel(50, 10)), 0);
    EXPECT_EQ(qAlpha(lifted.pixel(10, 60)), 0);
}

TEST(VisionSubject, StopRequestedCancels)
{
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(VisionEngine::liftSubject(redDisc(), stopped.get_token()), CancellationError);
    EXPECT_THROW(VisionEngine::replaceBackground(redDisc(), QStringLiteral("blur"), stopped.get_token()),
                 CancellationError);
}

TEST(VisionSubject, AStopWhileTheModelIsReadCancelsAndTheNextPictureStillGetsItsMask)
{
    if (!VisionEngine::canLiftSubjects())
        GTEST_SKIP() << "the subject model is not installed";
    // Fresh processes: the model is read once per process, on a thread of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto cancelSoon = [] {
        std::stop_source stop;
        std::thread stopper([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            stop.request_stop();
        });
        bool cancelled = false;
        try {
            VisionEngine::liftSubject(redDisc(), stop.get_token());
        } catch (const CancellationError&) {
            cancelled = true;
        }
        stopper.join();
        return cancelled;
    };
    EXPECT_EXIT(
        {
            if (!cancelSoon())
                std::exit(2);
            const QImage lifted = VisionEngine::liftSubject(redDisc(), {});
            std::exit(qAlpha(lifted.pixel(200, 150)) == 255 && qAlpha(lifted.pixel(0, 0)) == 0 ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
    // The process ends cleanly while the model is still being read.
    EXPECT_EXIT(std::exit(cancelSoon() ? 0 : 2), testing::ExitedWithCode(0), "");
}
