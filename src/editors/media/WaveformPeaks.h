#pragma once

#include <QByteArrayView>
#include <QList>
#include <QUrl>

#include <stop_token>

namespace qv {

// Bins 16-bit little-endian mono samples at 8000 Hz into `count` peak levels as they stream by,
// keeping nothing but the levels (and an odd byte between chunks).
class WaveformBinner {
public:
    WaveformBinner(double duration, int count);

    void add(QByteArrayView bytes);
    // The levels, the loudest bin made 1.0; all zero for silence.
    QList<float> finish() const;

private:
    QList<float> m_levels;
    double m_total;
    qint64 m_index = 0;
    int m_odd = -1; // the low byte of a sample cut between chunks
};

// The waveform of the file's first audio stream: `count` levels 0...1, or empty when its audio
// cannot be read. Blocks on FFmpeg: never on the main thread. Never throws, except
// CancellationError when stopped.
QList<float> readWaveformPeaks(const QUrl& file, const std::optional<QString>& demuxer, double duration, int count,
                               std::stop_token stop);

} // namespace qv
