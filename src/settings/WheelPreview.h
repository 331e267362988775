#pragma once

#include "model/SharedEnums.h"

#include <QStringList>
#include <QWidget>

namespace qv {

class SettingsStore;

// A small drawing of a wheel's first ring with the given titles and, in its centre, the key
// that opens it. Follows the trigger keys as they change.
class WheelPreview : public QWidget {
    Q_OBJECT
public:
    explicit WheelPreview(SettingsStore& store, QWidget* parent = nullptr);

    void setTitles(const QStringList& titles);
    void setWheel(WheelKind wheel);
    QStringList titles() const { return m_titles; }
    // The key name drawn in the centre; empty when the wheel has none.
    QString centreText() const;

    QSize sizeHint() const override { return {170, 190}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SettingsStore& m_store;
    QStringList m_titles;
    WheelKind m_wheel = WheelKind::convert;
};

} // namespace qv
