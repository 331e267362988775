#include "jobs/ui/OptionsForm.h"

#include "platform/ui/EditorButtons.h"
#include "jobs/OptionsActions.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace qv {

namespace {
constexpr int formWidth = 420;
constexpr int sideMargin = 20;
} // namespace

OptionsForm::OptionsForm(const QString& title, const QString& subtitle,
                         const QList<OptionField>& fields, OptionsModel* model, bool canRemember,
                         std::function<void()> cancel, std::function<void()> apply,
                         QWidget* parent)
    : QWidget(parent), m_title(title), m_fields(fields), m_model(model), m_apply(std::move(apply))
{
    setFixedWidth(formWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->setSizeConstraint(QLayout::SetMinAndMaxSize);

    auto* header = new QWidget(this);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(sideMargin, 16, sideMargin, 0);
    headerLayout->setSpacing(2);
    auto* titleLabel = new QLabel(title, header);
    titleLabel->setObjectName(QStringLiteral("title"));
    QFont headline = titleLabel->font();
    headline.setBold(true);
    headline.setPointSizeF(headline.pointSizeF() * 1.1);
    titleLabel->setFont(headline);
    auto* subtitleLabel = new QLabel(header);
    subtitleLabel->setObjectName(QStringLiteral("subtitle"));
    QFont subheadline = subtitleLabel->font();
    subheadline.setPointSizeF(subheadline.pointSizeF() * 0.92);
    subtitleLabel->setFont(subheadline);
    subtitleLabel->setForegroundRole(QPalette::PlaceholderText);
    subtitleLabel->setText(QFontMetrics(subheadline).elidedText(
        subtitle, Qt::ElideMiddle, formWidth - 2 * sideMargin));
    subtitleLabel->setToolTip(subtitle);
    headerLayout->addWidget(titleLabel);
    headerLayout->addWidget(subtitleLabel);
    stack->addWidget(header);

    auto* formArea = new QWidget(this);
    auto* form = new QFormLayout(formArea);
    form->setContentsMargins(sideMargin, 14, sideMargin, 14);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    for (OptionField field : fields)
        optionRows(*this, field, form);
    stack->addWidget(formArea);

    auto* footer = new QWidget(this);
    auto* footerLayout = new QVBoxLayout(footer);
    footerLayout->setContentsMargins(sideMargin, 0, sideMargin, 18);
    footerLayout->setSpacing(14);
    if (canRemember) {
        m_remember = new QCheckBox(tr("Remember as default"), footer);
        m_remember->setObjectName(QStringLiteral("remember"));
        connect(m_remember, &QCheckBox::toggled, m_model, &OptionsModel::setRemember);
        addRefresher([this] { m_remember->setChecked(m_model->remember()); });
        footerLayout->addWidget(m_remember);
    }
    m_buttons = new EditorButtons(tr("Apply"), std::move(cancel), [this] {
        if (canApply())
            finalizeOptions();
    }, footer);
    footerLayout->addWidget(m_buttons);
    stack->addWidget(footer);

    connect(m_model, &OptionsModel::changed, this, &OptionsForm::refresh);
    refresh();
}

bool OptionsForm::canApply() const
{
    return canApplyOptions(m_fields, m_title, *m_model);
}

void OptionsForm::finalizeOptions()
{
    qv::finalizeOptions(m_fields, *m_model);
    if (m_apply)
        m_apply();
}

void OptionsForm::addRefresher(std::function<void()> refresh)
{
    m_refreshers.append(std::move(refresh));
}

void OptionsForm::refresh()
{
    for (const auto& refresher : m_refreshers)
        refresher();
    m_buttons->setActionEnabled(canApply());
}

} // namespace qv
