#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

namespace qv {

// The media editor's picture: the player's current frame, the whole of it fitted in, no
// controls. Painted by us, so a window grab shows it too. Fed either by a player process's
// pictures (setFrame) or, in process, by a player's frames as they come (setPendingFrame); a
// sentence in place of the picture when playback is over for good.
class PlayerSurface : public QWidget {
    Q_OBJECT
public:
    explicit PlayerSurface(QWidget* parent = nullptr);
    ~PlayerSurface() override;

    void setFrame(const QImage& frame);
    // A player whose frames come faster than repaints: each is made a picture only if painted.
    // Such a player says so once, as its surface is made.
    void followFrames() { m_followsFrames = true; }
    bool followsFrames() const { return m_followsFrames; }
    void setPendingFrame(std::function<QImage()> picture);
    // Shown until the player's first frame comes: a still of the start read apart from it.
    void setFirstPicture(const QImage& picture);
    bool hasPicture() const;
    void setMessage(const QString& message);
    QString message() const { return m_message; }
    // The size in device pixels a picture fills.
    QSize pixelSize() const;

Q_SIGNALS:
    void pixelSizeChanged(QSize pixels);
    void frameArrived();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::function<QImage()> m_pending;
    bool m_followsFrames = false;
    QImage m_frame;
    QString m_message;
};

} // namespace qv
