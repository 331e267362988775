#pragma once

#include <QString>

namespace qv {

// Plays one of the feedback sounds "Pop", "Glass" or "Basso" at a volume from 0 to 1.
// Silent when the machine has no such sound or no audio device.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    virtual void play(const QString& name, double volume) = 0;

    static SoundOutput& system();
};

} // namespace qv
