#pragma once

#include <QColor>
#include <QPushButton>

namespace qv {

// A button showing a colour; clicking it opens the colour chooser without opacity.
class ColorWell : public QPushButton {
    Q_OBJECT
public:
    explicit ColorWell(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    // What the chooser does with the user's pick.
    void chooseColor(const QColor& color);

Q_SIGNALS:
    void colorChosen(const QColor& color);

private:
    QColor m_color = Qt::white;
};

} // namespace qv
