#include "settings/SettingsForm.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace qv {

SettingsForm::SettingsForm(QWidget* tab) : m_tab(tab), m_layout(new QVBoxLayout(tab))
{
    m_layout->setContentsMargins(20, 16, 20, 16);
    m_layout->setSpacing(8);
}

QFormLayout* SettingsForm::addSection(const QString& header)
{
    auto* box = new QGroupBox(header, m_tab);
    auto* form = new QFormLayout(box);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_layout->addWidget(box);
    return form;
}

QLabel* SettingsForm::addFooter(const QString& text)
{
    QLabel* label = caption(text, m_tab);
    m_layout->addWidget(label);
    return label;
}

void SettingsForm::finish()
{
    m_layout->addStretch(1);
}

QLabel* SettingsForm::caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    QPalette palette = label->palette();
    QColor secondary = palette.color(QPalette::WindowText);
    secondary.setAlphaF(0.6f);
    palette.setColor(QPalette::WindowText, secondary);
    label->setPalette(palette);
    return label;
}

} // namespace qv
