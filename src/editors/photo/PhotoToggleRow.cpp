#include "editors/photo/PhotoToggleRow.h"

#include "editors/photo/PhotoLabels.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QSignalBlocker>

namespace qv {

PhotoToggleRow::PhotoToggleRow(const QString& title, const QString& symbol, QWidget* parent)
    : QWidget(parent), m_title(title), m_symbol(symbol)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PhotoLabels::symbolTitle(symbol, title));
    layout->addStretch(1);
    m_toggle = new QCheckBox;
    // The title beside it names it; the switch shows no text of its own.
    m_toggle->setAccessibleName(title);
    layout->addWidget(m_toggle);
    connect(m_toggle, &QCheckBox::toggled, this, &PhotoToggleRow::toggled);
}

void PhotoToggleRow::setChecked(bool on)
{
    const QSignalBlocker block(m_toggle);
    m_toggle->setChecked(on);
}

} // namespace qv
