#pragma once

#include <QWidget>

class QLabel;

namespace qv {

// A small "still loading" sign laid over a part of an editor (a picture, a strip, a page) until
// what it waits for arrives: a moving bar and a word. Centred on the widget it covers, it
// follows that widget's size and lets clicks through.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    BusyIndicator(QWidget* covered, const QString& text);

    // Shown while busy; hidden for good once not.
    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    QWidget* m_covered;
    QLabel* m_label;
    bool m_busy = true;
};

} // namespace qv
