#include "editors/media/WaveformPeaks.h"

#include "editors/media/MediaPreviewArguments.h"
#include "model/errors/CancellationError.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ProcessRunner.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qv {

WaveformBinner::WaveformBinner(double duration, int count)
    : m_levels(std::max(count, 1), 0.0f), m_total(std::max(duration * 8000.0, 1.0))
{
}

void WaveformBinner::add(QByteArrayView bytes)
{
    const int count = int(m_levels.size());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    qsizetype i = 0;
    const auto take = [&](int low, int high) {
        const auto sample = static_cast<std::int16_t>(std::uint16_t(low | (high << 8)));
        const int bin = int(std::min<double>(std::floor(double(m_index) / m_total * count), count - 1));
        const float level = float(std::abs(int(sample))) / 32768.0f;
        if (level > m_levels[bin])
            m_levels[bin] = level;
        ++m_index;
    };
    if (m_odd >= 0 && bytes.size() > 0) {
        take(m_odd, data[0]);
        m_odd = -1;
        i = 1;
    }
    for (; i + 1 < bytes.size(); i += 2)
        take(data[i], data[i + 1]);
    if (i < bytes.size())
        m_odd = data[i];
}

QList<float> WaveformBinner::finish() const
{
    QList<float> levels = m_levels;
    const float loudest = *std::max_element(levels.begin(), levels.end());
    if (loudest > 0)
        for (float& level : levels)
            level /= loudest;
    return levels;
}

QList<float> readWaveformPeaks(const QUrl& file, const std::optional<QString>& demuxer, double duration, int count,
                               std::stop_token stop)
{
    const std::optional<QUrl>& ffmpeg = Capabilities::shared().ffmpegURL();
    if (!ffmpeg || count < 1 || !std::isfinite(duration))
        return {};
    WaveformBinner binner(duration, count);
    try {
        const ProcessRunner::Output output = ProcessRunner::run(
            *ffmpeg, waveformArguments(file.toLocalFile(), demuxer), stop, QHash<QString, QString>{},
            QUrl::fromLocalFile(TemporaryRoot::secure()), {},
            [&binner](QByteArrayView chunk) { binner.add(chunk); });
        if (output.status != 0 || output.terminatedBySignal) {
            qCInfo(enginesLog).noquote() << "No waveform:" << output.stderrText().trimmed();
            return {};
        }
    } catch (const CancellationError&) {
        throw;
    } catch (const std::exception& error) {
        qCInfo(enginesLog) << "No waveform:" << error.what();
        return {};
    }
    return binner.finish();
}

} // namespace qv
