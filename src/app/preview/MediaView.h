#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace qv {

class PlayerProcess;
class PlayerSurface;

// A movie or a sound with play and pause and a position slider, played by a player process of
// its own. Not started; a file that does not load leaves a player that cannot play, and one
// whose player dies says so in place of the picture.
class MediaView : public QWidget {
    Q_OBJECT
public:
    MediaView(const QUrl& url, bool video, QWidget* parent = nullptr);
    ~MediaView() override;

    PlayerProcess* player() const { return m_player; }
    // Ends the player at once: the sound stops when the panel closes.
    void stop();
    // The sentence shown once the player died; empty while it lives.
    QString message() const;

private:
    void updateButton();
    void playerDied();

    PlayerProcess* m_player = nullptr;
    PlayerSurface* m_surface = nullptr;
    QLabel* m_name = nullptr;
    QToolButton* m_playButton = nullptr;
    QSlider* m_slider = nullptr;
    QString m_message;
};

} // namespace qv
