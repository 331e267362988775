#pragma once

#include "editors/media/MediaPlayerPort.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

class QAudioOutput;
class QMediaPlayer;
class QTimer;

namespace qv {

// The media editor's player over QMediaPlayer. Without an audio device it plays silently. It
// pauses at the end of the media.
class QtMediaPlayer : public QObject, public MediaPlayerPort {
    Q_OBJECT
public:
    explicit QtMediaPlayer(const QUrl& source, QObject* parent = nullptr);
    // For ProcessMediaPlayer::installInProcessPlayer.
    static std::unique_ptr<MediaPlayerPort> make(const QUrl& source);
    ~QtMediaPlayer() override;

    void play() override;
    void pause() override;
    double rate() const override;
    double position() const override;
    void seek(double seconds, std::function<void()> done) override;
    QWidget* makeSurface(QWidget* parent) override;

private:
    void completeSeek();

    QMediaPlayer* m_player;
    QAudioOutput* m_audio;
    QTimer* m_seekTimer;
    std::optional<double> m_seekTarget;
    // The last seek's target until the player reports a position near it or plays on: a seek
    // that completes by the timeout must not show the old position meanwhile.
    std::optional<double> m_settling;
    std::function<void()> m_seekDone;
    // A surface takes the pictures: a seek is done when its picture comes.
    bool m_showsPictures = false;
};

} // namespace qv
