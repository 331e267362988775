#include "SaliencySubjectMasker.h"

#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/saliency.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace qv {

namespace {

// Lab distance at which a colour counts as wholly unlike the border.
constexpr double kFullContrast = 40.0;
// Below this share of kFullContrast a pixel never seeds the subject.
constexpr double kMinimumContrast = 0.3;
constexpr double kSeedCue = 0.5;
constexpr int kBorderColours = 4;
constexpr double kBorderShare = 0.12;
constexpr int kGrabCutRounds = 5;

EngineError noSubject(const QString& why)
{
    return EngineError(QStringLiteral("No subject found in this image"), why);
}

// The frame along the picture's edges, where the background is assumed to show.
cv::Mat borderFrame(cv::Size size)
{
    const int width = std::max(1, int(std::lround(0.04 * std::min(size.width, size.height))));
    cv::Mat frame(size, CV_8U, cv::Scalar(255));
    if (size.width > 2 * width && size.height > 2 * width)
        frame(cv::Rect(width, width, size.width - 2 * width, size.height - 2 * width)) = 0;
    return frame;
}

// How unlike the border's commonest colours every pixel is, 0...1.
cv::Mat borderContrast(const cv::Mat& bgr, const cv::Mat& frame)
{
    cv::Mat scaled, lab;
    bgr.convertTo(scaled, CV_32F, 1.0 / 255.0);
    cv::cvtColor(scaled, lab, cv::COLOR_BGR2Lab);

    cv::Mat samples(cv::countNonZero(frame), 3, CV_32F);
    int row = 0;
    for (int y = 0; y < lab.rows; ++y) {
        for (int x = 0; x < lab.cols; ++x) {
            if (frame.at<uchar>(y, x))
                std::memcpy(samples.ptr<float>(row++), lab.ptr<cv::Vec3f>(y, x), 3 * sizeof(float));
        }
    }
    const int clusters = std::min(kBorderColours, samples.rows);
    cv::Mat labels, centres;
    cv::setRNGSeed(1); // the same picture always gives the same mask
    cv::kmeans(samples, clusters, labels,
               cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 10, 0.5), 2,
               cv::KMEANS_PP_CENTERS, centres);

    // A subject standing on the bottom edge shows along the border too, but only on a small
    // part of it; such colours do not count as background.
    std::vector<int> members(size_t(centres.rows), 0);
    for (int i = 0; i < labels.rows; ++i)
        ++members[size_t(labels.at<int>(i))];
    const int commonest = *std::max_element(members.begin(), members.end());

    cv::Mat nearest(lab.size(), CV_32F, cv::Scalar(std::numeric_limits<float>::max()));
    for (int k = 0; k < centres.rows; ++k) {
        if (members[size_t(k)] < kBorderShare * samples.rows && members[size_t(k)] < commonest)
            continue;
        const cv::Scalar centre(centres.at<float>(k, 0), centres.at<float>(k, 1), centres.at<float>(k, 2));
        cv::Mat channels[3];
        cv::split(lab - centre, channels);
        cv::Mat distance;
        cv::magnitude(channels[0], channels[1], distance);
        cv::magnitude(distance, channels[2], distance);
        nearest = cv::min(nearest, distance);
    }
    return cv::min(nearest / kFullContrast, 1.0);
}

} // namespace

bool SaliencySubjectMasker::isUsable()
{
    try {
        return !cv::saliency::StaticSaliencyFineGrained::create().empty();
    } catch (const cv::Exception&) {
        return false;
    }
}

QImage SaliencySubjectMasker::subjectMask(const QImage& picture, const std::stop_token& stop) const
{
    Q_ASSERT(picture.format() == QImage::Format_RGB32);
    const int width = picture.width();
    const int height = picture.height();
    if (width < 3 || height < 3)
        throw noSubject(QStringLiteral("The picture is too small"));

    try {
        // Format_RGB32 lies in memory as B, G, R, 255.
        const cv::Mat bgra(height, width, CV_8UC4, const_cast<uchar*>(picture.constBits()),
                           size_t(picture.bytesPerLine()));
        const double scale = std::min(1.0, double(workSide) / std::max(width, height));
        const cv::Size workSize(std::max(3, int(std::lround(width * scale))),
                                std::max(3, int(std::lround(height * scale))));
        cv::Mat small, bgr;
        cv::resize(bgra, small, workSize, 0, 0, cv::INTER_AREA);
        cv::cvtColor(small, bgr, cv::COLOR_BGRA2BGR);
        throwIfCancelled(stop);

        cv::Mat saliency;
        const auto detector = cv::saliency::StaticSaliencyFineGrained::create();
        if (!detector->computeSaliency(bgr, saliency))
            throw noSubject(QStringLiteral("The saliency map could not be computed"));
        saliency.convertTo(saliency, CV_32F); // 0...1 already
        throwIfCancelled(stop);

        const cv::Mat frame = borderFrame(workSize);
        const cv::Mat contrast = borderContrast(bgr, frame);
        const cv::Mat cue = 0.5 * saliency + 0.5 * contrast;
        throwIfCancelled(stop);

        cv::Mat labels(workSize, CV_8U, cv::Scalar(cv::GC_PR_BGD));
        labels.setTo(cv::GC_PR_FGD, (cue >= kSeedCue) & (contrast >= kMinimumContrast));
        labels.setTo(cv::GC_BGD, (frame > 0) & (cue < kSeedCue));
        const int seeds = cv::countNonZero(labels == cv::GC_PR_FGD);
        if (seeds == 0)
            throw noSubject(QStringLiteral("Nothing stands out from the background"));
        if (seeds == int(labels.total()) || cv::countNonZero(labels == cv::GC_BGD) == 0)
            throw noSubject(QStringLiteral("No background shows along the edges"));

        cv::Mat backgroundModel, foregroundModel;
        for (int round = 0; round < kGrabCutRounds; ++round) {
            throwIfCancelled(stop);
            cv::grabCut(bgr, labels, cv::Rect(), backgroundModel, foregroundModel, 1,
                        round == 0 ? cv::GC_INIT_WITH_MASK : cv::GC_EVAL);
        }
        throwIfCancelled(stop);

        cv::Mat cut = (labels == cv::GC_FGD) | (labels == cv::GC_PR_FGD);
        QImage mask(width, height, QImage::Format_Alpha8);
        if (mask.isNull())
            throw EngineError(QStringLiteral("Not enough memory"), QStringLiteral("No room for the mask"));
        cv::Mat full(height, width, CV_8U, mask.bits(), size_t(mask.bytesPerLine()));
        cv::resize(cut, full, full.size(), 0, 0, cv::INTER_LINEAR);
        // A soft edge of a few pixels, wider on bigger pictures, as a cut-out wants.
        const double feather = std::max(1.0, std::max(width, height) / 600.0);
        cv::GaussianBlur(full, full, cv::Size(0, 0), feather, feather, cv::BORDER_REPLICATE);
        Q_ASSERT(full.data == mask.bits());
        return mask;
    } catch (const cv::Exception& error) {
        throw EngineError(QStringLiteral("Couldn't find the subject of this image"),
                          QString::fromStdString(error.what()));
    }
}

} // namespace qv
