#include "platform/ui/EditorButtons.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>

namespace qv {

EditorButtons::EditorButtons(const QString& actionTitle, std::function<void()> cancel,
                             std::function<void()> apply, QWidget* parent)
    : QWidget(parent),
      m_cancel(new QPushButton(tr("Cancel"), this)),
      m_action(new QPushButton(actionTitle, this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(m_cancel);
    layout->addWidget(m_action);
    m_action->setDefault(true);
    m_cancel->setAutoDefault(false);
    // A focused button would take Space, and Cancel loses the user's work.
    m_cancel->setFocusPolicy(Qt::NoFocus);
    m_action->setFocusPolicy(Qt::NoFocus);

    connect(m_cancel, &QPushButton::clicked, this, [cancel] {
        if (cancel)
            cancel();
    });
    connect(m_action, &QPushButton::clicked, this, [apply] {
        if (apply)
            apply();
    });

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, m_cancel, &QPushButton::click);
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        // click() does nothing on a disabled button, so Return then does nothing too.
        connect(shortcut, &QShortcut::activated, m_action, &QPushButton::click);
    }
}

void EditorButtons::setActionEnabled(bool enabled)
{
    m_action->setEnabled(enabled);
}

bool EditorButtons::isActionEnabled() const
{
    return m_action->isEnabled();
}

} // namespace qv
