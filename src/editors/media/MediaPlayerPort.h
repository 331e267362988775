#pragma once

#include <functional>

class QWidget;

namespace qv {

// What the media editor needs of a player; the real one plays through Qt Multimedia, tests use
// a fake. Main thread only.
class MediaPlayerPort {
public:
    virtual ~MediaPlayerPort() = default;

    virtual void play() = 0;
    virtual void pause() = 0;
    // Not 0 while playing.
    virtual double rate() const = 0;
    // Seconds.
    virtual double position() const = 0;
    // An exact seek; `done` runs once on the main thread when the player got there (or gave up).
    virtual void seek(double seconds, std::function<void()> done) = 0;
    // The widget that shows the picture, made for the given parent; none for a player without one.
    virtual QWidget* makeSurface(QWidget* parent) = 0;
};

} // namespace qv
