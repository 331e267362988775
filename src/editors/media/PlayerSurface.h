#pragma once

#include <QImage>
#include <QVideoFrame>
#include <QWidget>

class QVideoSink;

namespace qv {

// The media editor's picture: the player's current frame, the whole of it fitted in, no
// controls. Painted by us, so a window grab shows it too.
class PlayerSurface : public QWidget {
    Q_OBJECT
public:
    explicit PlayerSurface(QWidget* parent = nullptr);

    QVideoSink* sink() const { return m_sink; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVideoSink* m_sink;
    // Converted only when painted, so frames that come faster than repaints cost nothing.
    QVideoFrame m_pending;
    QImage m_frame;
};

} // namespace qv
