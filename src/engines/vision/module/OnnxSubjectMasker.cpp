#include "engines/vision/module/OnnxSubjectMasker.h"
#include "engines/vision/ModelSubjectMasker.h"
#include "engines/vision/module/HugePageMatAllocator.h"

#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QFile>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc/edge_filter.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <mutex>

namespace qv {

namespace {

EngineError cannotWork(const QString& why)
{
    return EngineError(QStringLiteral("Couldn't find the subject of this image"), why);
}

void throwIfStopped(const std::stop_token& stop)
{
    if (stop.stop_requested())
        throw CancellationError();
}

cv::dnn::Net readNetwork(const QString& path)
{
    cv::dnn::Net net;
    try {
        net = cv::dnn::readNetFromONNX(QFile::encodeName(path).toStdString());
    } catch (const cv::Exception& error) {
        throw cannotWork(QStringLiteral("The subject model could not be read: %1").arg(QString::fromStdString(error.msg)));
    }
    if (net.empty())
        throw cannotWork(QStringLiteral("The subject model could not be read"));
    return net;
}

// One network per process: reading it takes a second or more and 180 MB, on one core, so it
// is read on a thread of its own while the picture is made ready beside it.
class Network {
public:
    static Network& shared()
    {
        static Network network;
        return network;
    }

    void readAhead(const QString& path)
    {
        HugePageMatAllocator::install();
        const std::lock_guard lock(m_mutex);
        if (m_net.empty() && !m_reading.valid())
            m_reading = std::async(std::launch::async, readNetwork, path);
    }

    // Runs the network on a 1024 x 1024 RGB float picture; the mask as CV_32F, 0...1.
    cv::Mat run(const cv::Mat& blob, const QString& path, int threads, const std::stop_token& stop)
    {
        const std::lock_guard lock(m_mutex);
        if (m_net.empty()) {
            if (!m_reading.valid())
                m_reading = std::async(std::launch::async, readNetwork, path);
            // A cancelled picture does not wait for the reading, which the next one may use.
            while (m_reading.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
                throwIfStopped(stop);
            m_net = m_reading.get();
        }
        throwIfStopped(stop);
        cv::setNumThreads(std::max(1, threads));
        m_net.setInput(blob);
        cv::Mat out = m_net.forward();
        if (out.dims != 4 || out.size[2] != ModelSubjectMasker::netSide || out.size[3] != ModelSubjectMasker::netSide)
            throw cannotWork(QStringLiteral("The subject model gave a mask of an unexpected shape"));
        return cv::Mat(ModelSubjectMasker::netSide, ModelSubjectMasker::netSide, CV_32F, out.ptr<float>()).clone();
    }

private:
    std::mutex m_mutex;
    cv::dnn::Net m_net;
    std::future<cv::dnn::Net> m_reading;
};

cv::Mat wrap(const QImage& rgb32)
{
    return cv::Mat(rgb32.height(), rgb32.width(), CV_8UC4, const_cast<uchar*>(rgb32.constBits()),
                   size_t(rgb32.bytesPerLine()));
}

} // namespace

QImage OnnxSubjectMasker::subjectMask(const QImage& picture, const QString& modelPath, int threads,
                                      const std::stop_token& stop)
{
    throwIfStopped(stop);
    Network::shared().readAhead(modelPath);
    const QImage rgb = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull())
        throw cannotWork(QStringLiteral("The picture could not be prepared"));
    const cv::Mat bgra = wrap(rgb);

    // The network reads RGB in -0.5...0.5, as it was trained.
    cv::Mat square, colour;
    cv::resize(bgra, square, cv::Size(ModelSubjectMasker::netSide, ModelSubjectMasker::netSide), 0, 0, cv::INTER_AREA);
    cv::cvtColor(square, colour, cv::COLOR_BGRA2RGB);
    cv::Mat blob = cv::dnn::blobFromImage(colour, 1.0 / 255.0);
    blob -= 0.5;
    throwIfStopped(stop);

    // The mask comes back to the picture's shape at a working size, where a guided filter lets
    // its edge follow the picture's own edges (hair, fur, leaves) instead of the network's blur.
    // The filter's part that depends on the picture alone is made while the network is read.
    const double scale = std::min(1.0, double(ModelSubjectMasker::refineSide) / std::max(rgb.width(), rgb.height()));
    const cv::Size work(std::max(1, int(std::lround(rgb.width() * scale))), std::max(1, int(std::lround(rgb.height() * scale))));
    cv::Mat guide;
    cv::resize(bgra, guide, work, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::cvtColor(guide, guide, cv::COLOR_BGRA2BGR);
    const int radius = std::max(2, int(std::lround(std::max(work.width, work.height) / 256.0)));
    cv::Ptr<cv::ximgproc::GuidedFilter> edges = cv::ximgproc::createGuidedFilter(guide, radius, 1e-3);
    guide.release();
    throwIfStopped(stop);

    cv::Mat mask = Network::shared().run(blob, modelPath, threads, stop);
    blob.release();
    throwIfStopped(stop);
    cv::Mat workMask, refined;
    cv::resize(mask, workMask, work, 0, 0, cv::INTER_LINEAR);
    edges->filter(workMask, refined);
    edges.release();
    throwIfStopped(stop);
    // The network is rarely quite sure: what it is nearly sure of counts as whole, so a
    // subject's inside is opaque and the background wholly clear.
    refined = (refined - 0.03) * (1.0 / 0.94);
    // A feathered edge, never a hard cut, a pixel or so wide at any size.
    const double feather = std::max(0.8, std::max(work.width, work.height) / 1500.0);
    cv::GaussianBlur(refined, refined, cv::Size(), feather);

    cv::Mat full;
    cv::resize(refined, full, cv::Size(rgb.width(), rgb.height()), 0, 0, cv::INTER_LINEAR);
    QImage out(rgb.size(), QImage::Format_Alpha8);
    if (out.isNull())
        throw cannotWork(QStringLiteral("The picture is too large for its mask"));
    cv::Mat target(out.height(), out.width(), CV_8U, out.bits(), size_t(out.bytesPerLine()));
    full.convertTo(target, CV_8U, 255.0); // saturates below 0 and above 1
    return out;
}

} // namespace qv
