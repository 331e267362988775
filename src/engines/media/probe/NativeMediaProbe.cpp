#include "engines/media/probe/NativeMediaProbe.h"

#include "engines/media/probe/FFmpegProbeParser.h"
#include "platform/processes/FFmpegInvocation.h"
#include "platform/processes/LibrarySymbol.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cstdarg>

#include <dlfcn.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace qv {

namespace {

// libavformat pulls in libavcodec and some 130 libraries: opened with the first file that needs
// it, never at a worker's start.
struct Libav {
    decltype(&avformat_alloc_context) allocContext = nullptr;
    decltype(&avformat_open_input) openInput = nullptr;
    decltype(&avformat_find_stream_info) findStreamInfo = nullptr;
    decltype(&av_dump_format) dumpFormat = nullptr;
    decltype(&avformat_close_input) closeInput = nullptr;
    decltype(&av_find_input_format) findInputFormat = nullptr;
    decltype(&av_log_set_callback) setLogCallback = nullptr;
    decltype(&av_log_format_line2) formatLogLine = nullptr;
    decltype(&av_dict_set) dictSet = nullptr;
    decltype(&av_dict_free) dictFree = nullptr;
};

// What one probe on this thread has been told so far, at the level the program would print.
struct Capture {
    QByteArray text;
    int level = AV_LOG_INFO;
    int printPrefix = 1;
};

thread_local Capture* capture = nullptr;
std::atomic<bool> allowed{false};

const Libav* libav();

void logToCapture(void* context, int level, const char* format, va_list arguments)
{
    Capture* const into = capture;
    if (!into || level > into->level)
        return;
    char line[1024];
    const int length = libav()->formatLogLine(context, level, format, arguments, line, sizeof line, &into->printPrefix);
    if (length > 0)
        into->text.append(line, std::min<int>(length, int(sizeof line) - 1));
}

// Its libraries' symbols are looked up among their own first: a lookup that starts in the
// worker's hundred libraries and its own exports costs a quarter of the load, and none of those
// stands in for one of FFmpeg's. The sanitizers' runtimes refuse such a load.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int libavLookup = 0;
#else
constexpr int libavLookup = RTLD_DEEPBIND;
#endif

const Libav* libav()
{
    static const std::optional<Libav> loaded = []() -> std::optional<Libav> {
        void* library = ::dlopen("libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
                                 RTLD_LAZY | RTLD_LOCAL | libavLookup);
        if (!library)
            return std::nullopt;
        Libav l;
        const bool all = resolveSymbol(library, "avformat_alloc_context", l.allocContext)
            && resolveSymbol(library, "avformat_open_input", l.openInput)
            && resolveSymbol(library, "avformat_find_stream_info", l.findStreamInfo)
            && resolveSymbol(library, "av_dump_format", l.dumpFormat)
            && resolveSymbol(library, "avformat_close_input", l.closeInput)
            && resolveSymbol(library, "av_find_input_format", l.findInputFormat)
            && resolveSymbol(library, "av_log_set_callback", l.setLogCallback)
            && resolveSymbol(library, "av_log_format_line2", l.formatLogLine)
            && resolveSymbol(library, "av_dict_set", l.dictSet) && resolveSymbol(library, "av_dict_free", l.dictFree);
        if (!all)
            return std::nullopt;
        l.setLogCallback(logToCapture);
        return l;
    }();
    return loaded ? &*loaded : nullptr;
}

int stopRequested(void* stop)
{
    return static_cast<const std::stop_token*>(stop)->stop_requested() ? 1 : 0;
}

struct InputOptions {
    const char* demuxer = nullptr;
    int level = AV_LOG_INFO;
};

std::optional<InputOptions> readOptions(const QStringList& options, QByteArray& demuxer)
{
    InputOptions read;
    for (qsizetype i = 0; i < options.size(); i += 2) {
        if (i + 1 >= options.size())
            return std::nullopt;
        if (options[i] == QLatin1String("-f")) {
            demuxer = options[i + 1].toUtf8();
            read.demuxer = demuxer.constData();
        } else if (options[i] == QLatin1String("-loglevel") && options[i + 1] == QLatin1String("debug")) {
            read.level = AV_LOG_DEBUG;
        } else {
            return std::nullopt;
        }
    }
    return read;
}

} // namespace

const QSet<QString>& nativeProbeExtensions()
{
    static const QSet<QString> extensions{"mov", "mp4", "m4v", "m4a", "m4b", "m4r", "mp3", "wav",
                                          "aif", "aiff", "aifc", "caf", "aac", "3gp", "3g2"};
    return extensions;
}

void setNativeProbeAllowed(bool allow)
{
    allowed = allow;
}

bool nativeProbeAllowed()
{
    return allowed;
}

std::optional<QString> describeNatively(const QUrl& file, std::stop_token stop, const QStringList& inputOptions)
{
    if (!allowed || !file.isLocalFile() || stop.stop_requested())
        return std::nullopt;
    QByteArray demuxerName;
    const std::optional<InputOptions> options = readOptions(inputOptions, demuxerName);
    if (!options)
        return std::nullopt;
    const Libav* av = libav();
    if (!av)
        return std::nullopt;
    const AVInputFormat* demuxer = nullptr;
    if (options->demuxer && !(demuxer = av->findInputFormat(options->demuxer)))
        return std::nullopt;

    Capture told;
    told.level = options->level;
    capture = &told;
    struct Release {
        const Libav* av;
        AVFormatContext* context = nullptr;
        AVDictionary* formatOptions = nullptr;
        ~Release()
        {
            av->closeInput(&context);
            av->dictFree(&formatOptions);
            capture = nullptr;
        }
    } held{av};

    // As the FFmpeg program opens an input named with "-i": the same flags and options, so that
    // what it prints is what the program would.
    held.context = av->allocContext();
    if (!held.context)
        return std::nullopt;
    held.context->flags |= AVFMT_FLAG_NONBLOCK;
    held.context->interrupt_callback = {stopRequested, &stop};
    av->dictSet(&held.formatOptions, "scan_all_pmts", "1", AV_DICT_DONT_OVERWRITE);
    const QByteArray url = QFile::encodeName(ffmpegFileOperand(file.toLocalFile()));
    if (av->openInput(&held.context, url.constData(), demuxer, &held.formatOptions) < 0)
        return std::nullopt; // the context is freed on failure
    if (av->findStreamInfo(held.context, nullptr) < 0) {
        if (held.context->nb_streams == 0)
            return std::nullopt;
        told.text += url + ": could not find codec parameters\n";
    }
    if (stop.stop_requested())
        return std::nullopt;
    av->dumpFormat(held.context, 0, url.constData(), 0);
    told.text += "At least one output file must be specified\n";
    return QString::fromUtf8(told.text);
}

std::optional<MediaInfo> probeNatively(const QUrl& file, std::stop_token stop)
{
    const std::optional<QString> description = describeNatively(file, std::move(stop));
    if (!description)
        return std::nullopt;
    MediaInfo info = parseFFmpegProbeOutput(*description);
    if (!info.video && !info.audio)
        return std::nullopt;
    return info;
}

} // namespace qv
