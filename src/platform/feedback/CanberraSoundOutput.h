#pragma once

#include "platform/feedback/SoundOutput.h"

#include <QString>

struct ca_context;

namespace qv {

// Feedback sounds from the freedesktop sound theme through libcanberra.
class CanberraSoundOutput : public SoundOutput {
public:
    CanberraSoundOutput() = default;
    ~CanberraSoundOutput() override;
    CanberraSoundOutput(const CanberraSoundOutput&) = delete;
    CanberraSoundOutput& operator=(const CanberraSoundOutput&) = delete;

    void play(const QString& name, double volume) override;

    // The sound theme's event for a feedback sound; empty for a name it does not know.
    static QString themeSoundName(const QString& name);
    // libcanberra takes volumes in decibels.
    static double decibels(double volume);

private:
    ca_context* m_context = nullptr;
    bool m_unavailable = false;
};

} // namespace qv
