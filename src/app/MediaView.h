#pragma once

#include <QUrl>
#include <QWidget>

class QAudioOutput;
class QMediaPlayer;
class QSlider;
class QToolButton;
class QVideoWidget;

namespace qv {

// A movie or a sound with play and pause and a position slider. Not started; a file that
// does not load leaves a player that cannot play.
class MediaView : public QWidget {
    Q_OBJECT
public:
    MediaView(const QUrl& url, bool video, QWidget* parent = nullptr);
    ~MediaView() override;

    QMediaPlayer* player() const { return m_player; }
    // Pauses at once and lets the player go: the sound stops when the panel closes.
    void stop();

private:
    void updateButton();

    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_audio = nullptr;
    QVideoWidget* m_video = nullptr;
    QToolButton* m_playButton = nullptr;
    QSlider* m_slider = nullptr;
};

} // namespace qv
