#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

#include <optional>

namespace qv {

// The practice photo as a small tile that can be dragged: the photo filling the tile, or a
// tinted placeholder until it is loaded.
class PracticeTile : public QWidget {
    Q_OBJECT
public:
    explicit PracticeTile(QWidget* parent = nullptr);

    void setThumbnail(std::optional<QImage> image);
    bool hasThumbnail() const { return m_thumbnail.has_value(); }
    void setAccent(const QColor& accent);

    static constexpr int tileWidth = 92;
    static constexpr int tileHeight = 62;

Q_SIGNALS:
    // The pointer moved far enough with the button down.
    void dragStarted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF tileRect() const;

    std::optional<QImage> m_thumbnail;
    QColor m_accent;
    std::optional<QPoint> m_pressedAt;
};

} // namespace qv
