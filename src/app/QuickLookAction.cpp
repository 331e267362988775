#include "app/QuickLookAction.h"

#include "app/PreviewWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace qv {

QuickLookAction& QuickLookAction::shared()
{
    static QuickLookAction action;
    return action;
}

void QuickLookAction::show(const QList<QUrl>& urls)
{
    m_items = urls;
    if (!m_window)
        m_window = new PreviewWindow;
    const bool wasVisible = m_window->isVisible();
    m_window->setItems(m_items);
    if (!wasVisible) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
        m_window->show();
    }
    m_window->raise();
    m_window->activateWindow();
}

} // namespace qv
