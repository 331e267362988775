#include "platform/processes/FFmpegInvocation.h"

#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"
#include "platform/files/TemporaryRoot.h"

#include <algorithm>
#include <cmath>
#include <csignal>

namespace qv {

namespace {

const QHash<QString, QString> noEnvironment;

const QUrl& requireProgram(const std::optional<QUrl>& program)
{
    if (!program)
        throw EngineError(ffmpegMissingMessage());
    return *program;
}

} // namespace

QString ffmpegMissingMessage()
{
    return QStringLiteral("FFmpeg is missing from this copy of Quorvenda");
}

const QStringList& ffmpegArgumentPrefix()
{
    // Warnings too: FFmpeg tells of a damaged input only at that level and still ends with 0.
    static const QStringList prefix{"-nostdin", "-hide_banner", "-y", "-loglevel", "warning",
                                    "-progress", "pipe:1", "-nostats"};
    return prefix;
}

QString ffmpegFileOperand(const QString& path)
{
    return QStringLiteral("file:") + path;
}

QStringList ffmpegInputArgs(const QString& path, const std::optional<QString>& demuxer)
{
    QStringList args;
    if (demuxer && !demuxer->isEmpty())
        args << QStringLiteral("-f") << *demuxer;
    return args << QStringLiteral("-i") << ffmpegFileOperand(path);
}

namespace {

// The microseconds of an "out_time_us=" or "out_time_ms=" line; both keys hold microseconds.
std::optional<double> outputMicroseconds(const QString& line)
{
    QStringView value;
    for (QLatin1StringView key : {QLatin1StringView("out_time_us="), QLatin1StringView("out_time_ms=")}) {
        if (line.startsWith(key)) {
            value = QStringView(line).mid(key.size());
            break;
        }
    }
    if (value.isNull())
        return std::nullopt;
    bool ok = false;
    const double micros = value.toDouble(&ok);
    if (!ok || std::isnan(micros) || micros < 0)
        return std::nullopt;
    return micros;
}

} // namespace

void ffmpegProgress(const QString& line, const FFmpegProgressContext& context)
{
    const bool reports = context.progress && context.duration && *context.duration > 0;
    if (!reports && !context.onOutputTime)
        return;
    const std::optional<double> micros = outputMicroseconds(line);
    if (!micros)
        return;
    if (context.onOutputTime)
        context.onOutputTime(*micros / 1000000.0);
    if (!reports)
        return;
    double fraction = std::min(*micros / 1000000.0 / *context.duration, 1.0);
    if (std::isnan(fraction))
        fraction = 1.0;
    reportProgress(context.start + (context.end - context.start) * fraction, *context.progress);
}

ProcessRunner::Output runFFmpeg(const QStringList& arguments, std::stop_token stop,
                                const FFmpegProgressContext& context)
{
    return runFFmpeg(Capabilities::shared().ffmpegURL(), arguments, std::move(stop), context);
}

ProcessRunner::Output runFFmpeg(const std::optional<QUrl>& program, const QStringList& arguments,
                                std::stop_token stop, const FFmpegProgressContext& context)
{
    const QUrl& executable = requireProgram(program);
    FFmpegProgressContext bound = context;
    if (bound.duration && !(*bound.duration > 0))
        bound.duration.reset();
    return ProcessRunner::run(executable, ffmpegArgumentPrefix() + arguments, std::move(stop),
                              noEnvironment, appTemporaryRoot(),
                              [bound](const QString& line) { ffmpegProgress(line, bound); });
}

namespace {

// Whether the log, in any case, holds one of the phrases.
template <std::size_t N>
bool logSays(const QString& log, const char* const (&phrases)[N])
{
    const QString text = log.toLower();
    return std::any_of(std::begin(phrases), std::end(phrases),
                       [&text](const char* phrase) { return text.contains(QLatin1String(phrase)); });
}

} // namespace

bool ffmpegLogTellsOfAWriteFailure(const QString& log)
{
    // FFmpeg reports a failed write of the trailer or the close and still ends with status 0;
    // what it left behind then lacks its index (an MP4 without its moov atom).
    static const char* const phrases[] = {"no space left on device", "disk quota exceeded", "file too large",
                                          "input/output error", "error writing trailer", "error closing file",
                                          "av_interleaved_write_frame()", "error submitting a packet to the muxer"};
    return logSays(log, phrases);
}

bool ffmpegRunFailedToWrite(int status, const QString& log)
{
    // checkFFmpegRun gives a killing signal as 128 + its number: SIGXFSZ is the file size limit.
    if (status == 128 + SIGXFSZ)
        return true;
    static const char* const phrases[] = {"no space left on device", "disk quota exceeded", "file too large",
                                          "input/output error", "read-only file system", "permission denied",
                                          "operation not permitted", "file name too long"};
    return logSays(log, phrases);
}

bool ffmpegLogTellsOfDamagedInput(const QString& log)
{
    // What demuxers and decoders say of a cut or scrambled file while they carry on with what
    // they can read: the result would lack part of it. Not a bare "error while decoding": an MP3
    // decoder says that of junk before the first frame, and the sound after it is whole.
    static const char* const phrases[] = {"file ended prematurely", "corrupt decoded frame", "corrupt input packet",
                                          "packet corrupt", "crc mismatch", "invalid as first byte of an ebml number",
                                          "filesize and duration do not match", "truncating packet",
                                          "decode_frame() failed", "input buffer exhausted before end element"};
    return logSays(log, phrases);
}

void checkFFmpegRun(const ProcessRunner::Output& output)
{
    if (output.status == 0 && !output.terminatedBySignal && !ffmpegLogTellsOfAWriteFailure(output.stderrText()))
        return;
    // A signal is no exit status; keep it apart from FFmpeg's own small codes.
    const int status = output.terminatedBySignal ? 128 + output.status : output.status;
    throw FFmpegError(status, output.stderrText().trimmed());
}

QString probeWithFFmpeg(const QUrl& file, std::stop_token stop)
{
    return probeWithFFmpeg(Capabilities::shared().ffmpegURL(), file, std::move(stop));
}

QString probeWithFFmpeg(const std::optional<QUrl>& program, const QUrl& file, std::stop_token stop,
                        const QStringList& inputOptions)
{
    const QUrl& executable = requireProgram(program);
    // No output is named, so FFmpeg describes the input and ends with an error status.
    const ProcessRunner::Output output = ProcessRunner::run(
        executable,
        QStringList{"-nostdin", "-hide_banner"} + inputOptions + QStringList{"-i", ffmpegFileOperand(file.toLocalFile())},
        std::move(stop), noEnvironment, appTemporaryRoot());
    return output.stderrText();
}

std::optional<QString> ffmpegVersion(std::stop_token stop)
{
    return ffmpegVersion(Capabilities::shared().ffmpegURL(), std::move(stop));
}

std::optional<QString> ffmpegVersion(const std::optional<QUrl>& program, std::stop_token stop)
{
    if (!program)
        return std::nullopt;
    try {
        const ProcessRunner::Output output =
            ProcessRunner::run(*program, {"-hide_banner", "-version"}, std::move(stop), noEnvironment);
        const QStringList lines = output.stdoutText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.isEmpty())
            return std::nullopt;
        return lines.first();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace qv
