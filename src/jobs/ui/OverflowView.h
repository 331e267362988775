#pragma once

#include <QWidget>

namespace qv {

// "+N more" below the fourth pill.
class OverflowView : public QWidget {
    Q_OBJECT
public:
    OverflowView(int count, const QSize& size, QWidget* parent = nullptr);

    int count() const { return m_count; }
    static QString text(int count);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_count;
};

} // namespace qv
