#include "catalogue/isolated/IsolatedPictureReading.h"

#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "engines/image/ImageFrames.h"
#include "engines/vision/VisionEngine.h"
#include "jobs/WorkerPool.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/Error.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qv {

namespace {

// Qt's readers decode every frame whole before it is scaled.
constexpr qint64 animationPixelLimit = 40'000'000;

// How long a worker keeps the picture it last estimated without being asked again.
constexpr auto fullSizeKept = std::chrono::seconds(60);
// Nobody waits on an estimate, which may decode, cut out and encode 50 megapixels on a slow
// machine; only a hang is cut short.
constexpr auto estimateLimit = std::chrono::milliseconds(180000);

using FrameSink = std::function<void(const QImage& frame, int delayMs)>;

// Reads the frames into sink; the loop count, or nothing when the file is no animation Qt
// plays. The frames' sizes and count follow IsolatedPictureReading::animation.
std::optional<int> readAnimation(const QString& path, QSize box, const FrameSink& sink, std::stop_token stop)
{
    QImageReader reader(path);
    if (!reader.supportsAnimation())
        return std::nullopt;
    const QSize full = reader.size();
    if (full.isEmpty() || qint64(full.width()) * full.height() > animationPixelLimit || box.isEmpty())
        return std::nullopt;
    const int count = reader.imageCount();
    if (count == 1)
        return std::nullopt;
    const int planned = count > 1 ? std::min(count, IsolatedPictureReading::animationFrameLimit)
                                  : IsolatedPictureReading::animationFrameLimit;
    QSize size = full.scaled(box, Qt::KeepAspectRatio).boundedTo(full);
    const auto bytes = [](QSize s) { return qint64(s.width()) * s.height() * 4; };
    const qint64 share = IsolatedPictureReading::animationByteLimit / planned;
    if (bytes(size) > share) {
        const double factor = std::max(std::sqrt(double(share) / double(bytes(size))), 0.5);
        size = QSize(std::max(int(size.width() * factor), 1), std::max(int(size.height() * factor), 1));
    }
    if (size != full)
        reader.setScaledSize(size);
    const qint64 fitting = std::max<qint64>(IsolatedPictureReading::animationByteLimit / bytes(size), 1);
    const int wanted = int(std::min<qint64>(planned, fitting));
    for (int index = 0; index < wanted; ++index) {
        throwIfCancelled(stop);
        const QImage frame = reader.read();
        if (frame.isNull())
            break;
        // As the GIFs we write: missing or very short delays show for a tenth of a second.
        const int delay = reader.nextImageDelay();
        sink(frame, int(std::lround(ImageFrames::frameDelay(delay > 0 ? std::optional<int>(delay) : std::nullopt) * 1000)));
    }
    return reader.loopCount();
}

std::optional<IsolatedPictureReading::Animation> animationHere(const QString& path, QSize box, std::stop_token stop)
{
    IsolatedPictureReading::Animation animation;
    const std::optional<int> loops = readAnimation(
        path, box,
        [&animation](const QImage& frame, int delay) {
            animation.frames.append(frame.convertToFormat(QImage::Format_ARGB32_Premultiplied));
            animation.delays.append(delay);
        },
        stop);
    if (!loops || animation.frames.size() < 2)
        return std::nullopt;
    animation.loopCount = *loops;
    return animation;
}

qint64 memoryLimit()
{
    const int megabytes = Settings::shared().intValue(SettingsKey::workerMemory);
    return qint64(megabytes >= 256 ? megabytes : 4096) << 20;
}

QString workerFolder()
{
    return qEnvironmentVariable("TMPDIR");
}

// The worker's picture of the file it last estimated, let go when no estimate came for a
// while. Never destroyed: the thread that lets it go may outlive main.
class KeptFullSize {
public:
    static KeptFullSize& shared()
    {
        static auto* kept = new KeptFullSize;
        return *kept;
    }

    std::shared_ptr<PhotoCopyEstimate::FullSize> forFile(const QString& path)
    {
        const QFileInfo info(path);
        const QString key = path + QLatin1Char('\n') + QString::number(info.size()) + QLatin1Char('\n')
            + QString::number(info.lastModified().toMSecsSinceEpoch());
        std::lock_guard locker(m_lock);
        if (!m_full || key != m_key) {
            m_full = std::make_shared<PhotoCopyEstimate::FullSize>();
            m_key = key;
        }
        touchLocked();
        return m_full;
    }

    void touch()
    {
        std::lock_guard locker(m_lock);
        touchLocked();
    }

private:
    void touchLocked()
    {
        m_lastUse = std::chrono::steady_clock::now();
        if (m_watching)
            return;
        m_watching = true;
        std::thread([this] { watch(); }).detach();
    }

    void watch()
    {
        std::unique_lock locker(m_lock);
        while (std::chrono::steady_clock::now() < m_lastUse + fullSizeKept)
            m_wake.wait_until(locker, m_lastUse + fullSizeKept);
        m_full.reset();
        m_key.clear();
        m_watching = false;
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    QString m_key;
    std::shared_ptr<PhotoCopyEstimate::FullSize> m_full;
    std::chrono::steady_clock::time_point m_lastUse;
    bool m_watching = false;
};

} // namespace

std::optional<IsolatedPictureReading::Animation> IsolatedPictureReading::animation(const QString& path, QSize box,
                                                                                 std::stop_token stop)
{
    if (!IsolatedReading::isEnabled()) {
        try {
            return animationHere(path, box, stop);
        } catch (const Error&) {
            return std::nullopt;
        }
    }
    QJsonObject answer;
    try {
        answer = catalogueWorkers().call(
            QStringLiteral("animation"),
            {{QStringLiteral("path"), path}, {QStringLiteral("width"), box.width()}, {QStringLiteral("height"), box.height()}},
            stop, memoryLimit());
    } catch (const Error&) {
        return std::nullopt;
    }
    const QJsonArray frames = answer.value(QStringLiteral("frames")).toArray();
    const QJsonArray delays = answer.value(QStringLiteral("delays")).toArray();
    Animation animation;
    bool whole = frames.size() == delays.size() && frames.size() >= 2;
    // Every frame's file is read, and so removed, even once one turned out bad.
    for (qsizetype index = 0; index < frames.size(); ++index) {
        std::optional<QImage> frame = WorkerProtocol::pictureFromJson(frames[index]);
        if (!frame || !whole) {
            whole = false;
            continue;
        }
        animation.frames.append(std::move(*frame));
        animation.delays.append(std::max(delays[index].toInt(), 1));
    }
    if (!whole)
        return std::nullopt;
    animation.loopCount = answer.value(QStringLiteral("loopCount")).toInt(-1);
    return animation;
}

std::optional<PhotoCopyEstimate::Result> IsolatedPictureReading::photoEstimate(const PhotoCopyEstimate::Request& request,
                                                                          PhotoCopyEstimate::FullSize& full,
                                                                          const QString& folder, std::stop_token stop)
{
    if (!IsolatedReading::isEnabled())
        return PhotoCopyEstimate::estimate(full, folder, request, stop);
    const QJsonObject answer = catalogueWorkers().call(QStringLiteral("photoEstimate"),
                                                       PhotoCopyEstimate::requestToJson(request), stop, memoryLimit(),
                                                       estimateLimit);
    throwIfCancelled(stop);
    if (!answer.value(QStringLiteral("bytes")).isDouble())
        return std::nullopt;
    return PhotoCopyEstimate::Result{qint64(answer.value(QStringLiteral("bytes")).toDouble()),
                                 answer.value(QStringLiteral("exact")).toBool()};
}

QImage IsolatedPictureReading::liftSubject(const QImage& picture, std::stop_token stop)
{
    if (!IsolatedReading::isEnabled())
        return VisionEngine::liftSubject(picture, stop);
    QJsonObject sent = WorkerProtocol::pictureToJson(picture, TemporaryRoot::secure());
    const QString sentPath = sent.value(QStringLiteral("path")).toString();
    QJsonObject answer;
    try {
        answer = catalogueWorkers().call(QStringLiteral("liftSubject"), QJsonObject{{QStringLiteral("picture"), sent}},
                                         stop, memoryLimit(), estimateLimit);
    } catch (...) {
        QFile::remove(sentPath);
        throw;
    }
    QFile::remove(sentPath);
    throwIfCancelled(stop);
    const std::optional<QImage> cutout = WorkerProtocol::pictureFromJson(answer.value(QStringLiteral("cutout")));
    if (!cutout)
        throw EngineError(QStringLiteral("Couldn't find the subject of this image"),
                          QStringLiteral("The worker's cut-out could not be read"));
    return cutout->convertToFormat(QImage::Format_ARGB32);
}

WorkerServer::Calls IsolatedPictureReading::workerCalls()
{
    WorkerServer::Calls calls;
    calls.insert(QStringLiteral("liftSubject"), [](const QJsonObject& arguments) {
        const std::optional<QImage> picture = WorkerProtocol::pictureFromJson(arguments.value(QStringLiteral("picture")));
        if (!picture)
            throw EngineError(QStringLiteral("Couldn't find the subject of this image"),
                              QStringLiteral("The picture did not arrive whole"));
        VisionEngine::shareCores(1);
        return QJsonObject{{QStringLiteral("cutout"),
                            WorkerProtocol::pictureToJson(VisionEngine::liftSubject(*picture, {}), workerFolder())}};
    });
    calls.insert(QStringLiteral("animation"), [](const QJsonObject& arguments) {
        const QString folder = workerFolder();
        const QSize box(arguments.value(QStringLiteral("width")).toInt(), arguments.value(QStringLiteral("height")).toInt());
        QJsonArray frames;
        QJsonArray delays;
        // Each frame leaves as it is read, so the worker holds one at a time.
        const auto removeWritten = [&frames] {
            for (const QJsonValue& frame : std::as_const(frames))
                QFile::remove(frame.toObject().value(QStringLiteral("path")).toString());
        };
        std::optional<int> loops;
        try {
            loops = readAnimation(
                arguments.value(QStringLiteral("path")).toString(), box,
                [&](const QImage& frame, int delay) {
                    frames.append(WorkerProtocol::pictureToJson(frame, folder));
                    delays.append(delay);
                },
                {});
        } catch (...) {
            removeWritten();
            throw;
        }
        if (!loops || frames.size() < 2) {
            removeWritten();
            return QJsonObject();
        }
        return QJsonObject{{QStringLiteral("frames"), frames},
                           {QStringLiteral("delays"), delays},
                           {QStringLiteral("loopCount"), *loops}};
    });
    calls.insert(QStringLiteral("photoEstimate"), [](const QJsonObject& arguments) {
        const std::optional<PhotoCopyEstimate::Request> request = PhotoCopyEstimate::requestFromJson(arguments);
        if (!request)
            return QJsonObject();
        KeptFullSize& kept = KeptFullSize::shared();
        const std::shared_ptr<PhotoCopyEstimate::FullSize> full = kept.forFile(request->file.path());
        const std::optional<PhotoCopyEstimate::Result> estimate =
            PhotoCopyEstimate::estimate(*full, workerFolder(), *request, {});
        kept.touch();
        if (!estimate)
            return QJsonObject();
        return QJsonObject{{QStringLiteral("bytes"), double(estimate->bytes)}, {QStringLiteral("exact"), estimate->exact}};
    });
    return calls;
}

} // namespace qv
