#pragma once

#include "editors/media/MediaPlayerPort.h"

#include <QList>

#include <functional>

namespace qv::test {

// A player whose position moves only when the test says, and whose seeks complete only when
// the test completes them; it records every seek it was asked for.
class FakeMediaPlayer : public MediaPlayerPort {
public:
    void play() override { m_rate = 1.0; }
    void pause() override { m_rate = 0.0; }
    double rate() const override { return m_rate; }
    double position() const override { return m_position; }
    void seek(double seconds, std::function<void()> done) override
    {
        seeks.append(seconds);
        m_target = seconds;
        m_done = std::move(done);
    }
    QWidget* makeSurface(QWidget*) override { return nullptr; }

    bool seekInFlight() const { return bool(m_done); }
    // The player got to the target of the seek in flight.
    void completeSeek()
    {
        m_position = m_target;
        if (auto done = std::exchange(m_done, {}))
            done();
    }
    // The clock runs: playback advances.
    void advance(double seconds)
    {
        if (m_rate != 0)
            m_position += seconds;
    }
    void setPosition(double seconds) { m_position = seconds; }

    QList<double> seeks;

private:
    double m_rate = 0.0;
    double m_position = 0.0;
    double m_target = 0.0;
    std::function<void()> m_done;
};

} // namespace qv::test
