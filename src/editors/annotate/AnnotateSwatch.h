#pragma once

#include <QAbstractButton>

namespace qv {

// One colour of the annotate toolbar: an 18 x 18 round swatch, ringed more strongly while it is
// the chosen colour. Named "Color #RRGGBB" for tooltips and screen readers.
class AnnotateSwatch : public QAbstractButton {
    Q_OBJECT
public:
    explicit AnnotateSwatch(const QString& hex, QWidget* parent = nullptr);

    QString hex() const { return m_hex; }
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }

    QSize sizeHint() const override { return {18, 18}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_hex;
    bool m_selected = false;
};

} // namespace qv
