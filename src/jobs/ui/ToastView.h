#pragma once

#include <QWidget>

namespace qv {

// A toast's content: symbol, up to three lines of text and, when it can be clicked, a chevron.
class ToastView : public QWidget {
    Q_OBJECT
public:
    ToastView(QString text, QString symbol, double maxWidth, bool clickable, QWidget* parent = nullptr);

    // The size the content asks for: its ideal size, never wider than maxWidth.
    QSize sizeHint() const override { return m_size; }
    int lineCount() const { return int(m_lines.size()); }
    bool isClickable() const { return m_clickable; }

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString m_text;
    QString m_symbol;
    bool m_clickable;
    QStringList m_lines;
    QSize m_size;
    double m_textWidth = 0;
};

} // namespace qv
