#include "engines/media/MediaCategory.h"

#include "engines/media/MediaProbe.h"
#include "model/Capabilities.h"

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace qv {

namespace {

// Long enough for a slow disk, short enough that the wheel still feels like it opens at once.
constexpr std::chrono::milliseconds probeLimit{3000};

} // namespace

std::optional<FileCategory> mediaCategoryOfFile(const QString& path)
{
    return mediaCategoryOfFile(Capabilities::shared().ffmpegURL(), path, probeLimit);
}

std::optional<FileCategory> mediaCategoryOfFile(const std::optional<QUrl>& ffmpeg, const QString& path,
                                                std::chrono::milliseconds limit)
{
    if (!ffmpeg)
        return std::nullopt;
    std::stop_source deadline;
    std::jthread timer([&deadline, limit](std::stop_token finished) {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        if (!wake.wait_for(lock, finished, limit, [] { return false; }) && !finished.stop_requested())
            deadline.request_stop();
    });
    try {
        const MediaInfo info = probeMediaInfo(ffmpeg, QUrl::fromLocalFile(path), deadline.get_token());
        if (info.video)
            return FileCategory::video;
        if (info.audio)
            return FileCategory::audio;
    } catch (const std::exception&) {
        // Damaged, unreadable or too slow: the name decides.
    }
    return std::nullopt;
}

} // namespace qv
