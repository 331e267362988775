#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QVideoFrame;
class QVideoSink;

namespace qv {

// The media editor's picture: the player's current frame, the whole of it fitted in, no
// controls. Painted by us, so a window grab shows it too. Fed either by a player process's
// pictures (setFrame) or, in process, by its video sink; a sentence in place of the picture
// when playback is over for good.
class PlayerSurface : public QWidget {
    Q_OBJECT
public:
    explicit PlayerSurface(QWidget* parent = nullptr);
    ~PlayerSurface() override;

    // Made on first use: a surface fed by a player process never loads the media framework.
    QVideoSink* sink();
    void setFrame(const QImage& frame);
    // Shown until the player's first frame comes: a still of the start read apart from it.
    void setFirstPicture(const QImage& picture);
    bool hasPicture() const;
    void setMessage(const QString& message);
    QString message() const { return m_message; }
    // The size in device pixels a picture fills.
    QSize pixelSize() const;

Q_SIGNALS:
    void pixelSizeChanged(QSize pixels);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QVideoSink* m_sink = nullptr;
    // Converted only when painted, so frames that come faster than repaints cost nothing.
    std::unique_ptr<QVideoFrame> m_pending;
    QImage m_frame;
    QString m_message;
};

} // namespace qv
