#pragma once

#include <QWidget>

class QCheckBox;

namespace qv {

// A titled switch: the symbol and title at the leading edge, the switch at the far side.
class PhotoToggleRow : public QWidget {
    Q_OBJECT
public:
    PhotoToggleRow(const QString& title, const QString& symbol, QWidget* parent = nullptr);

    QCheckBox* toggle() const { return m_toggle; }
    QString title() const { return m_title; }
    QString symbol() const { return m_symbol; }

    // Shows the model's value without writing it back.
    void setChecked(bool on);

Q_SIGNALS:
    // Only the user's changes.
    void toggled(bool on);

private:
    QString m_title;
    QString m_symbol;
    QCheckBox* m_toggle;
};

} // namespace qv
