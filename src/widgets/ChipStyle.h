#pragma once

#include <QProxyStyle>

namespace qv {

// The look of the photo editor's shape chips: a rounded pill sharing its row, filled with the
// accent colour when chosen, a faint grey otherwise that darkens while pressed. A chip in a
// disabled view fades to 40 %. Each chip owns its style; the caller says whether it is chosen.
class ChipStyle : public QProxyStyle {
    Q_OBJECT
public:
    explicit ChipStyle(bool selected = false);

    bool selected() const { return m_selected; }
    void setSelected(bool selected) { m_selected = selected; }

    // The pill's fill for a chip in that state.
    QColor fill(const QPalette& palette, bool pressed) const;
    QColor textColor(const QPalette& palette) const;
    static double opacity(bool enabled) { return enabled ? 1.0 : 0.4; }

    static constexpr double cornerRadius = 7;
    static constexpr int minimumHeight = 26;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget = nullptr) const override;

private:
    QFont chipFont(const QFont& base) const;

    bool m_selected;
};

} // namespace qv
