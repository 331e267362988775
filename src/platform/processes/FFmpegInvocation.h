#pragma once

#include "platform/processes/ProcessRunner.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

class Progress;

// Where one FFmpeg run's progress goes: the stretch start..end of the item's progress, filled
// as the run covers the media's duration.
struct FFmpegProgressContext {
    Progress* progress = nullptr;
    // Seconds; absent (or not above 0) leaves the progress where it is.
    std::optional<double> duration;
    double start = 0.0;
    double end = 1.0;
    // Gets the output time of each progress report, in seconds: how much FFmpeg says it wrote.
    std::function<void(double seconds)> onOutputTime = {};
};

// The arguments every media run begins with: no input, no banner, overwrite, errors only,
// machine-readable progress on standard output.
const QStringList& ffmpegArgumentPrefix();

// A file as FFmpeg must see it: never an option (a leading dash) or a protocol (a colon).
QString ffmpegFileOperand(const QString& path);

// Raises the progress from one "out_time_us=" line of "-progress pipe:1"; other lines and
// values that are no number are ignored.
void ffmpegProgress(const QString& line, const FFmpegProgressContext& context);

// Runs FFmpeg with the prefix and the arguments, no environment, the temporary root as working
// directory and live progress. The status is returned, not judged. Throws EngineError without
// the program, CancellationError when stopped.
ProcessRunner::Output runFFmpeg(const QStringList& arguments, std::stop_token stop,
                                const FFmpegProgressContext& context = {});
ProcessRunner::Output runFFmpeg(const std::optional<QUrl>& program, const QStringList& arguments,
                                std::stop_token stop, const FFmpegProgressContext& context = {});

// Throws FFmpegError (the status and FFmpeg's trimmed standard error) unless the run ended with
// status 0 and its log tells of no failed write.
void checkFFmpegRun(const ProcessRunner::Output& output);

// True when FFmpeg's log says an input is damaged (cut short, scrambled) though it went on.
bool ffmpegLogTellsOfDamagedInput(const QString& log);

// Whether FFmpeg's standard error tells that writing its output failed (a full disk, an I/O
// error, a trailer it could not write).
bool ffmpegLogTellsOfAWriteFailure(const QString& log);

// Whether a failed run could not write for a cause of the system's (no room, a file larger than
// the filesystem or the process may hold, a name it refuses, no permission, a read-only or failing
// disk): another way of encoding meets it again.
bool ffmpegRunFailedToWrite(int status, const QString& log);

// "-f" and the demuxer when one is named, then "-i" and the file as FFmpeg must see it.
QStringList ffmpegInputArgs(const QString& path, const std::optional<QString>& demuxer);

// FFmpeg's description of the file (its standard error, whatever the status); inputOptions go
// before "-i" (a demuxer to use, a log level). Throws EngineError without the program,
// CancellationError when stopped, SystemError when it cannot start.
QString probeWithFFmpeg(const QUrl& file, std::stop_token stop);
QString probeWithFFmpeg(const std::optional<QUrl>& program, const QUrl& file, std::stop_token stop,
                        const QStringList& inputOptions = {});

// FFmpeg's first line of "-version", or nothing.
std::optional<QString> ffmpegVersion(std::stop_token stop);
std::optional<QString> ffmpegVersion(const std::optional<QUrl>& program, std::stop_token stop);

// The sentence of a media operation run without the program.
QString ffmpegMissingMessage();

} // namespace qv
