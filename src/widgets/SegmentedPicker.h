#pragma once

#include "jobs/OptionChoices.h"

#include <QWidget>

class QAbstractButton;
class QButtonGroup;

namespace qv {

// A row of joined toggle buttons, one per choice; a value outside the list marks none.
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedPicker(const QList<OptionChoice>& choices, QWidget* parent = nullptr);

    void setCurrentValue(const QVariant& value);
    std::optional<QVariant> currentValue() const;
    QAbstractButton* button(int index) const;

Q_SIGNALS:
    // Only for a choice the user picked.
    void activated(const QVariant& value);

private:
    QList<OptionChoice> m_choices;
    QButtonGroup* m_group;
};

} // namespace qv
