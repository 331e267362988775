#include "widgets/SegmentedPicker.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

namespace qv {

SegmentedPicker::SegmentedPicker(const QList<OptionChoice>& choices, QWidget* parent)
    : QWidget(parent), m_choices(choices), m_group(new QButtonGroup(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_group->setExclusive(true);
    for (int i = 0; i < choices.size(); ++i) {
        auto* button = new QPushButton(choices[i].text, this);
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_group->addButton(button, i);
        layout->addWidget(button);
    }
    connect(m_group, &QButtonGroup::idClicked, this,
            [this](int id) { Q_EMIT activated(m_choices[id].value); });
}

void SegmentedPicker::setCurrentValue(const QVariant& value)
{
    int index = -1;
    for (int i = 0; i < m_choices.size(); ++i) {
        if (m_choices[i].value == value) {
            index = i;
            break;
        }
    }
    // An exclusive group cannot show no choice; lift it while clearing.
    m_group->setExclusive(false);
    for (QAbstractButton* button : m_group->buttons())
        button->setChecked(m_group->id(button) == index);
    m_group->setExclusive(true);
}

std::optional<QVariant> SegmentedPicker::currentValue() const
{
    const int id = m_group->checkedId();
    if (id < 0)
        return std::nullopt;
    return m_choices[id].value;
}

QAbstractButton* SegmentedPicker::button(int index) const
{
    return m_group->button(index);
}

} // namespace qv
