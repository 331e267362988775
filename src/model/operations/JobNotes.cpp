#include "model/operations/JobNotes.h"

namespace qv {

void JobNotes::addMessage(const QString& text)
{
    std::lock_guard locker(m_lock);
    m_items.append(text);
}

void JobNotes::addClipboardText(const QString& text)
{
    std::lock_guard locker(m_lock);
    m_clipboard.append(text);
}

QStringList JobNotes::messages() const
{
    std::lock_guard locker(m_lock);
    return m_items;
}

std::optional<QString> JobNotes::clipboardText() const
{
    std::lock_guard locker(m_lock);
    if (m_clipboard.isEmpty())
        return std::nullopt;
    return m_clipboard.join(QStringLiteral("\n\n"));
}

} // namespace qv
