#include "engines/media/arguments/StreamCopyArguments.h"

#include "platform/processes/FFmpegInvocation.h"

#include <algorithm>

namespace qv {

namespace {

QString operand(const QUrl& url)
{
    return ffmpegFileOperand(url.toLocalFile());
}

QStringList inputArgs(const QUrl& url, const std::optional<QString>& demuxer)
{
    return ffmpegInputArgs(url.toLocalFile(), demuxer);
}

QString seconds(double value)
{
    return QString::number(std::max(value, 0.0), 'f', 3);
}

} // namespace

QStringList segmentArgs(const QUrl& input, const QUrl& outputPattern, std::optional<double> segmentLength,
                        const std::optional<QList<double>>& splitTimes, const QString& muxer, bool audioOnly,
                        const std::optional<QString>& demuxer)
{
    QStringList args = inputArgs(input, demuxer);
    if (audioOnly)
        args << "-map" << "0:a:0" << "-vn";
    else
        args << "-map" << "0:V:0" << "-map" << "0:a?";
    // Each piece would carry every chapter of the whole, past its own end.
    args << "-map_chapters" << "-1";
    args << "-c" << "copy" << "-f" << "segment" << "-reset_timestamps" << "1" << "-segment_format" << muxer;
    if (!splitTimes || splitTimes->isEmpty()) {
        args << "-segment_time" << seconds(segmentLength.value_or(60));
    } else {
        QStringList times;
        for (double time : *splitTimes)
            times << seconds(time);
        args << "-segment_times" << times.join(QLatin1Char(','));
    }
    if (muxer == QLatin1String("mp4") || muxer == QLatin1String("mov") || muxer == QLatin1String("ipod"))
        args << "-segment_format_options" << "movflags=+faststart";
    args << operand(outputPattern);
    return args;
}

QStringList muteArgs(const QUrl& input, const QUrl& output, const QString& muxer,
                     const std::optional<QString>& demuxer)
{
    QStringList args = inputArgs(input, demuxer);
    args << "-map" << "0:V" << "-map" << "0:s?" << "-c" << "copy" << "-an";
    if (muxer == QLatin1String("mp4") || muxer == QLatin1String("mov"))
        args << "-movflags" << "+faststart";
    args << "-f" << muxer << operand(output);
    return args;
}

QStringList stripMetadataArgs(const QUrl& input, const QUrl& output, const QString& muxer, bool audioOnly,
                              const std::optional<QString>& demuxer)
{
    QStringList args = inputArgs(input, demuxer);
    if (audioOnly)
        args << "-map" << "0:a";
    else
        args << "-map" << "0:V?" << "-map" << "0:a?" << "-map" << "0:s?";
    args << "-map_metadata" << "-1" << "-map_chapters" << "-1" << "-c" << "copy" << "-fflags" << "+bitexact"
         << "-flags:v" << "+bitexact" << "-flags:a" << "+bitexact";
    if (muxer == QLatin1String("mp4") || muxer == QLatin1String("mov") || muxer == QLatin1String("ipod"))
        args << "-movflags" << "+faststart";
    args << "-f" << muxer << operand(output);
    return args;
}

QStringList rotationMetadataArgs(const QUrl& input, const QUrl& output, int degrees, const QString& muxer,
                                 const std::optional<QString>& demuxer)
{
    // FFmpeg's display rotation turns counter-clockwise. 5.1 has no -display_rotation; its
    // "rotate" stream tag takes the same value.
    const int remainder = degrees % 360;
    const int value = remainder > 0 ? 360 - remainder : -remainder;
    return inputArgs(input, demuxer)
        + QStringList{"-map", "0:V", "-map", "0:a?", "-map", "0:s?",
                      "-metadata:s:v:0", QStringLiteral("rotate=") + QString::number(value),
                      "-c", "copy", "-movflags", "+faststart", "-f", muxer, operand(output)};
}

QStringList frameGrabArgs(const QUrl& input, const QUrl& output, double time,
                          const std::optional<QString>& demuxer)
{
    return QStringList{"-ss", seconds(time)} + inputArgs(input, demuxer)
        + QStringList{"-map", "0:V:0", "-frames:v", "1", "-update", "1", "-f", "image2", operand(output)};
}

QString concatList(const QList<QUrl>& files)
{
    QString text;
    for (const QUrl& file : files) {
        QString path = file.toLocalFile();
        path.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
        text += QStringLiteral("file '") + path + QStringLiteral("'\n");
    }
    return text;
}

} // namespace qv
