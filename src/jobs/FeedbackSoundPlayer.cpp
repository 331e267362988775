#include "jobs/FeedbackSoundPlayer.h"

#include "model/settings/SettingsKeys.h"
#include "platform/feedback/SoundOutput.h"
#include "platform/settings/SettingsStore.h"

namespace qv {

FeedbackSoundPlayer::FeedbackSoundPlayer(const SettingsStore& store, SoundOutput& output)
    : m_store(store)
    , m_output(output)
{
}

FeedbackSoundPlayer& FeedbackSoundPlayer::shared()
{
    static FeedbackSoundPlayer player(SettingsStore::shared(), SoundOutput::system());
    return player;
}

FeedbackSoundPlayer::SoundChoice FeedbackSoundPlayer::soundFor(FeedbackSound sound)
{
    switch (sound) {
    case FeedbackSound::dispatch: return {QStringLiteral("Pop"), 0.25};
    case FeedbackSound::success: return {QStringLiteral("Glass"), 0.2};
    case FeedbackSound::failure: return {QStringLiteral("Basso"), 0.25};
    }
    return {QStringLiteral("Pop"), 0.25};
}

void FeedbackSoundPlayer::play(FeedbackSound sound)
{
    if (!m_store.boolValue(SettingsKey::sounds))
        return;
    const SoundChoice choice = soundFor(sound);
    m_output.play(choice.name, choice.volume);
}

void playFeedbackSound(FeedbackSound sound)
{
    FeedbackSoundPlayer::shared().play(sound);
}

} // namespace qv
