#include "app/MediaView.h"

#include <QAudioOutput>
#include <QBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVideoWidget>

namespace qv {

MediaView::MediaView(const QUrl& url, bool video, QWidget* parent) : QWidget(parent)
{
    m_player = new QMediaPlayer(this);
    m_audio = new QAudioOutput(this);
    m_player->setAudioOutput(m_audio);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (video) {
        m_video = new QVideoWidget(this);
        m_player->setVideoOutput(m_video);
        layout->addWidget(m_video, 1);
    } else {
        auto* name = new QLabel(url.fileName(), this);
        name->setAlignment(Qt::AlignCenter);
        layout->addWidget(name, 1);
    }

    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(6, 2, 6, 4);
    m_playButton = new QToolButton(this);
    m_playButton->setAutoRaise(true);
    m_slider = new QSlider(Qt::Horizontal, this);
    controls->addWidget(m_playButton);
    controls->addWidget(m_slider, 1);
    layout->addLayout(controls);

    connect(m_playButton, &QToolButton::clicked, this, [this] {
        if (m_player->playbackState() == QMediaPlayer::PlayingState)
            m_player->pause();
        else
            m_player->play();
    });
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, &MediaView::updateButton);
    connect(m_player, &QMediaPlayer::durationChanged, this,
            [this](qint64 duration) { m_slider->setRange(0, int(duration)); });
    connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 position) {
        if (!m_slider->isSliderDown())
            m_slider->setValue(int(position));
    });
    connect(m_slider, &QSlider::sliderMoved, m_player,
            [this](int position) { m_player->setPosition(position); });
    updateButton();
    m_player->setSource(url);
}

MediaView::~MediaView()
{
    stop();
}

void MediaView::stop()
{
    if (!m_player)
        return;
    m_player->pause();
    m_player->setSource({});
}

void MediaView::updateButton()
{
    const bool playing = m_player->playbackState() == QMediaPlayer::PlayingState;
    m_playButton->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause
                                                        : QStyle::SP_MediaPlay));
}

} // namespace qv
