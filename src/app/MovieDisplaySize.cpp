#include "app/MovieDisplaySize.h"

#include "platform/ProcessRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cmath>

namespace qv {

std::optional<QSizeF> movieDisplaySizeFromProbe(const QByteArray& json)
{
    const QJsonArray streams = QJsonDocument::fromJson(json).object().value("streams").toArray();
    for (const QJsonValue& value : streams) {
        const QJsonObject stream = value.toObject();
        if (stream.value("codec_type").toString() != "video")
            continue;
        const double width = stream.value("width").toDouble();
        const double height = stream.value("height").toDouble();
        if (!(width > 0 && height > 0))
            return std::nullopt;
        // Older ffmpeg puts the rotation in a tag, newer in the display matrix side data.
        double rotation = stream.value("tags").toObject().value("rotate").toString().toDouble();
        for (const QJsonValue& side : stream.value("side_data_list").toArray()) {
            const QJsonValue angle = side.toObject().value("rotation");
            if (!angle.isUndefined())
                rotation = angle.toDouble();
        }
        const long quarterTurns = std::lround(rotation / 90.0);
        if (quarterTurns % 2 != 0)
            return QSizeF(height, width);
        return QSizeF(width, height);
    }
    return std::nullopt;
}

std::optional<QSizeF> movieDisplaySize(const QString& path, std::stop_token stop)
{
    const QString ffprobe = QStandardPaths::findExecutable("ffprobe");
    if (ffprobe.isEmpty())
        return std::nullopt;
    try {
        const auto output = ProcessRunner::run(
            QUrl::fromLocalFile(ffprobe),
            {"-v", "error", "-select_streams", "v:0", "-show_streams", "-of", "json", "file:" + path},
            stop);
        if (output.status != 0 || output.terminatedBySignal)
            return std::nullopt;
        return movieDisplaySizeFromProbe(output.stdoutData);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace qv
