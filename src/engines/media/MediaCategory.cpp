#include "engines/media/MediaCategory.h"

#include "engines/media/probe/AlsStreamConfig.h"
#include "engines/media/probe/IsoMediaFile.h"
#include "engines/media/probe/MediaProbe.h"
#include "model/errors/EngineError.h"
#include "model/operations/Capabilities.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include <sys/stat.h>

namespace qv {

namespace {

// Long enough for a slow disk, short enough that the wheel still feels like it opens at once.
constexpr std::chrono::milliseconds probeLimit{3000};

// Plenty for the files of a few drags; past it the memory starts over.
constexpr qsizetype rememberedFiles = 1000;

// A file is the same file while its identity, size and modification time are.
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedNs = 0;

    bool operator==(const FileState&) const = default;
};

std::optional<FileState> fileState(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileState{st.st_dev, st.st_ino, st.st_size,
                     qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

struct Remembered {
    FileState state;
    std::optional<MediaStreams> streams;
};

struct Memory {
    std::mutex mutex;
    QHash<QString, Remembered> answers;
};

Memory& memory()
{
    // Never destroyed: files may be described on worker threads until the process ends.
    static Memory* const shared = new Memory;
    return *shared;
}

// Whether the answer was found in the memory, and what it was.
std::optional<std::optional<MediaStreams>> recall(const QString& path, const FileState& state)
{
    Memory& m = memory();
    std::lock_guard lock(m.mutex);
    const auto found = m.answers.constFind(path);
    if (found == m.answers.constEnd() || !(found->state == state))
        return std::nullopt;
    return found->streams;
}

void remember(const QString& path, const FileState& state, const std::optional<MediaStreams>& streams)
{
    Memory& m = memory();
    std::lock_guard lock(m.mutex);
    if (m.answers.size() >= rememberedFiles)
        m.answers.clear();
    m.answers.insert(path, {state, streams});
}

std::shared_ptr<const MediaStreamsReader>& reader()
{
    static std::shared_ptr<const MediaStreamsReader> installed;
    return installed;
}

} // namespace

void setMediaStreamsReader(MediaStreamsReader read)
{
    std::atomic_store(&reader(), read ? std::make_shared<const MediaStreamsReader>(std::move(read))
                                      : std::shared_ptr<const MediaStreamsReader>());
}

std::optional<MediaStreams> mediaStreamsOfFile(const QString& path)
{
    // A sound file by its name is not worth an FFmpeg start at the wheel; only its own boxes are
    // read, for the one thing its name cannot tell.
    static const QStringList soundNames{QStringLiteral("m4a"), QStringLiteral("m4b"), QStringLiteral("m4r")};
    if (soundNames.contains(QFileInfo(path).suffix().toLower())) {
        const std::optional<QByteArray> config = IsoMediaFile::soundDecoderConfig(path);
        const std::optional<AlsStreamConfig> als = config ? AlsStreamConfig::read(*config) : std::nullopt;
        if (als && !als->ffmpegDecodes())
            return MediaStreams{false, false};
        return std::nullopt;
    }
    const std::optional<FileState> before = fileState(path);
    if (!before)
        return std::nullopt;
    if (const auto known = recall(path, *before))
        return *known;
    const auto started = std::chrono::steady_clock::now();
    const std::optional<MediaStreams> streams = [&path] {
        if (const std::shared_ptr<const MediaStreamsReader> read = std::atomic_load(&reader()))
            return (*read)(path, probeLimit);
        return mediaStreamsOfFile(Capabilities::shared().ffmpegURL(), path, probeLimit);
    }();
    // A probe cut short by the limit may do better on a later try; a file that changed while
    // it was read was not seen as it is.
    const bool timedOut = !streams && std::chrono::steady_clock::now() - started >= probeLimit;
    if (!timedOut && fileState(path) == before)
        remember(path, *before, streams);
    return streams;
}

std::optional<MediaStreams> mediaStreamsOfFile(const std::optional<QUrl>& ffmpeg, const QString& path,
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
        const QUrl file = QUrl::fromLocalFile(path);
        const DescribedMedia described = describeMediaFile(ffmpeg, file, deadline.get_token());
        // A sound FFmpeg cannot decode is offered nothing, as if it were not there.
        const bool sound = described.info.audio.has_value() && soundDecodable(file, described.info);
        return MediaStreams{described.info.video.has_value(), sound, described.description};
    } catch (const EngineError& error) {
        // FFmpeg read the container and found no stream in it (an MP4 of its boxes alone, a
        // film of subtitles only): nothing to offer. Damaged or unreadable: the name decides.
        if (error.log().contains(QLatin1String("Input #0, ")))
            return MediaStreams{false, false};
    } catch (const std::exception&) {
        // Too slow, or FFmpeg would not start: the name decides.
    }
    return std::nullopt;
}

std::optional<MediaStreams> rememberedMediaStreams(const QString& path)
{
    const std::optional<FileState> state = fileState(path);
    if (!state)
        return std::nullopt;
    return recall(path, *state).value_or(std::nullopt);
}

} // namespace qv
