#pragma once

#include <QColor>
#include <QPushButton>

#include <functional>

class QColorDialog;

namespace qv {

// A button showing a colour; clicking it opens the colour chooser, which offers no opacity:
// every colour it gives is opaque. As a round swatch it is a 20-point disc with a ring, the
// accent colour's when selected; a swatch of a fixed choice opens no chooser.
class ColorWell : public QPushButton {
    Q_OBJECT
public:
    enum class Shape { bar, round };

    explicit ColorWell(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    Shape shape() const { return m_shape; }
    void setShape(Shape shape);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    // Off for a fixed choice: a click is only a click.
    void setOpensChooser(bool opens) { m_opensChooser = opens; }
    // Paints the disc's face instead of the colour, such as a checker for "no colour".
    void setFace(std::function<void(QPainter&, const QRectF&)> face);

    // Opens the chooser at the well's colour; returns at once. The chooser lives until closed.
    QColorDialog* openChooser();
    // What the chooser does with the user's pick.
    void chooseColor(const QColor& color);

    static constexpr int discSide = 20;

    QSize sizeHint() const override;

Q_SIGNALS:
    void colorChosen(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateFace();

    QColor m_color = Qt::white;
    Shape m_shape = Shape::bar;
    bool m_selected = false;
    bool m_opensChooser = true;
    std::function<void(QPainter&, const QRectF&)> m_face;
};

} // namespace qv
