#pragma once

#include <QWidget>

class QLabel;

namespace qv {

// One of the onboarding window's three cards: the key that opens a wheel, the wheel's name
// and what it offers.
class TriggerCard : public QWidget {
    Q_OBJECT
public:
    TriggerCard(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    // The key as the wheel names it ("Shift", "Super", …); "–" for an empty name.
    void setKey(const QString& key);
    QString keyText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_cap = nullptr;
};

} // namespace qv
