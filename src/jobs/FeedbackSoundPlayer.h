#pragma once

#include "jobs/FeedbackSound.h"
#include "jobs/JobCenterServices.h"

#include <QString>

namespace qv {

class SettingsStore;
class SoundOutput;

// The only player of the three feedback sounds; silent while "quorvenda.sounds" is off.
class FeedbackSoundPlayer : public SoundPlayer {
public:
    FeedbackSoundPlayer(const SettingsStore& store, SoundOutput& output);

    static FeedbackSoundPlayer& shared();

    void play(FeedbackSound sound) override;

    struct SoundChoice {
        QString name;
        double volume;
    };
    static SoundChoice soundFor(FeedbackSound sound);

private:
    const SettingsStore& m_store;
    SoundOutput& m_output;
};

void playFeedbackSound(FeedbackSound sound);

} // namespace qv
