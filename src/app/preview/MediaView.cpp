#include "app/preview/MediaView.h"

#include "editors/media/PlayerSurface.h"
#include "graphics/SymbolTable.h"
#include "platform/sandbox/PlayerProcess.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <cmath>

namespace qv {

MediaView::MediaView(const QUrl& url, bool video, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (video) {
        m_surface = new PlayerSurface(this);
        layout->addWidget(m_surface, 1);
    } else {
        m_name = new QLabel(url.fileName(), this);
        m_name->setAlignment(Qt::AlignCenter);
        m_name->setWordWrap(true);
        layout->addWidget(m_name, 1);
    }

    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(6, 2, 6, 4);
    m_playButton = new QToolButton(this);
    m_playButton->setAutoRaise(true);
    m_slider = new QSlider(Qt::Horizontal, this);
    controls->addWidget(m_playButton);
    controls->addWidget(m_slider, 1);
    layout->addLayout(controls);

    m_player = new PlayerProcess(url, m_surface ? m_surface->pixelSize() : QSize(), this);
    if (m_surface) {
        connect(m_surface, &PlayerSurface::pixelSizeChanged, m_player, &PlayerProcess::setBox);
        connect(m_player, &PlayerProcess::frameChanged, this, [this] { m_surface->setFrame(m_player->frame()); });
    }
    connect(m_playButton, &QToolButton::clicked, this, [this] {
        if (m_player->isPlaying())
            m_player->pause();
        else
            m_player->play();
    });
    connect(m_player, &PlayerProcess::playingChanged, this, &MediaView::updateButton);
    connect(m_player, &PlayerProcess::durationChanged, this,
            [this](double duration) { m_slider->setRange(0, int(std::lround(duration * 1000))); });
    connect(m_player, &PlayerProcess::positionChanged, this, [this](double position) {
        if (!m_slider->isSliderDown())
            m_slider->setValue(int(std::lround(position * 1000)));
    });
    connect(m_slider, &QSlider::sliderMoved, m_player, [this](int position) { m_player->seek(position / 1000.0); });
    connect(m_player, &PlayerProcess::died, this, &MediaView::playerDied);
    updateButton();
}

MediaView::~MediaView()
{
    stop();
}

void MediaView::stop()
{
    if (m_player)
        m_player->end();
}

QString MediaView::message() const
{
    return m_message;
}

void MediaView::playerDied()
{
    m_message = QStringLiteral("This file couldn't be played");
    if (m_surface)
        m_surface->setMessage(m_message);
    else
        m_name->setText(m_message);
    m_playButton->setEnabled(false);
    m_slider->setEnabled(false);
    updateButton();
}

void MediaView::updateButton()
{
    const bool playing = m_player->isPlaying();
    // The style's transport icons are grey, as if the button were disabled.
    m_playButton->setIcon(tintedSymbolIcon(playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"),
                                           palette().color(QPalette::ButtonText)));
}

} // namespace qv
