#include "engines/media/MediaRoutines.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "model/errors/EngineError.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace qv {

VideoStreamInfo requireVideo(const MediaInfo& info)
{
    if (!info.video)
        throw EngineError(QStringLiteral("This file has no video"));
    return *info.video;
}

AudioStreamInfo requireAudio(const MediaInfo& info)
{
    if (!info.audio)
        throw EngineError(QStringLiteral("This file has no audio"));
    return *info.audio;
}

void checkCompressed(const QUrl& output, const FileInfo& input, const OperationContext& context)
{
    const QFileInfo file(output.toLocalFile());
    const qint64 size = file.exists() && file.isFile() ? file.size() : -1;
    if (input.size <= 0)
        return;
    if (size >= 1 && size < input.size) {
        // Whole numbers: 710 of 1000 bytes is 29 % smaller, not 28.999...
        const qint64 percent = (input.size - size) * 100 / input.size;
        if (context.notes)
            context.notes->addMessage(QString::number(percent) + QStringLiteral(" % smaller"));
        return;
    }
    throw EngineError(QStringLiteral("Already as small as it gets"));
}

QStringList encoderArgs(const MediaInfo& info)
{
    QStringList args;
    if (info.video && info.video->codec == QLatin1String("hevc"))
        args = hevcEncoderArgs(info, QualityPreset::high);
    else
        args = h264EncoderArgs(videoBitrate(info, QualityPreset::high, std::nullopt));
    if (!info.audio) {
        args << "-an";
    } else {
        const int bitrate = std::clamp(info.audio->bitrate.value_or(192), 96, 192);
        args << "-c:a" << "aac" << "-b:a" << QString::number(bitrate) + QLatin1Char('k');
    }
    return args;
}

AudioTarget audioTargetForFile(const FileInfo& input)
{
    if (!input.format)
        return AudioTarget::m4a;
    const QString& id = input.format->id;
    static const QList<AudioTarget> kept{AudioTarget::mp3, AudioTarget::wav, AudioTarget::aiff,
                                         AudioTarget::flac, AudioTarget::ogg, AudioTarget::opus,
                                         AudioTarget::caf, AudioTarget::m4r};
    for (AudioTarget target : kept)
        if (audioTargetRawValue(target) == id)
            return target;
    return AudioTarget::m4a;
}

namespace {

const QHash<QString, QString>& ownMuxers()
{
    static const QHash<QString, QString> muxers{
        {"mov", "mov"},      {"mp4", "mp4"},   {"m4v", "mp4"},  {"3gp", "mp4"},   {"mkv", "matroska"},
        {"webm", "webm"},    {"avi", "avi"},   {"ts", "mpegts"}, {"flv", "flv"},  {"mpg", "mpeg"},
        {"m4a", "ipod"},     {"m4r", "ipod"},  {"mp3", "mp3"},  {"wav", "wav"},   {"aiff", "aiff"},
        {"flac", "flac"},    {"ogg", "ogg"},   {"opus", "opus"}, {"caf", "caf"},   {"wma", "asf"},
        {"ac3", "ac3"},      {"dts", "dts"},   {"amr", "amr"},   {"mka", "matroska"}, {"wv", "wv"},
        {"aac", "adts"}};
    return muxers;
}

} // namespace

QString muxerForFile(const FileInfo& input)
{
    if (!input.format)
        return QStringLiteral("matroska");
    return ownMuxers().value(input.format->id, QStringLiteral("matroska"));
}

bool soundContainerIsWritable(const FileInfo& input)
{
    // Monkey's Audio, Musepack, DSD and the like have no FFmpeg muxer: a copy of their streams
    // would have to change format under the same name.
    return input.format && ownMuxers().contains(input.format->id);
}

} // namespace qv
