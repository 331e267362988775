#include "app/StandardShortcuts.h"

#include "app/tray/MenuActions.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace qv {

StandardShortcuts::StandardShortcuts(MenuActions& actions, QObject* parent)
    : QObject(parent)
    , m_actions(actions)
{
}

void StandardShortcuts::install(MenuActions& actions)
{
    static StandardShortcuts* installed = nullptr;
    if (installed || !QCoreApplication::instance())
        return;
    installed = new StandardShortcuts(actions, QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(installed);
}

StandardCommand StandardShortcuts::commandFor(const QKeyEvent& event)
{
    if (event.matches(QKeySequence::Close))
        return StandardCommand::closeWindow;
    // Some desktop themes bind no quit key: Ctrl+Q is what Linux users press.
    const QKeyCombination combination = event.keyCombination();
    if (event.matches(QKeySequence::Quit)
        || combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Q))
        return StandardCommand::quit;
    if (combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Comma))
        return StandardCommand::openSettings;
    return StandardCommand::none;
}

bool StandardShortcuts::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow())
        return false;
    // Pills, toasts, the wheel and menus are not windows the user closes with a key.
    const Qt::WindowFlags flags = widget->windowFlags();
    if (widget->windowType() == Qt::Popup || widget->windowType() == Qt::ToolTip
        || flags.testFlag(Qt::X11BypassWindowManagerHint))
        return false;

    switch (commandFor(*static_cast<QKeyEvent*>(event))) {
    case StandardCommand::none:
        return false;
    case StandardCommand::closeWindow:
        widget->close();
        return true;
    case StandardCommand::openSettings:
        m_actions.openSettings();
        return true;
    case StandardCommand::quit:
        m_actions.quit();
        return true;
    }
    return false;
}

} // namespace qv
