#pragma once

#include <QStringList>

#include <mutex>
#include <optional>

namespace qv {

// Messages and clipboard text that the work items of one job leave for its end. Shared by
// items running on several threads at once.
class JobNotes {
public:
    void addMessage(const QString& text);
    void addClipboardText(const QString& text);

    QStringList messages() const;
    // The clipboard entries joined by a blank line; absent when there are none.
    std::optional<QString> clipboardText() const;

private:
    mutable std::mutex m_lock;
    QStringList m_items;
    QStringList m_clipboard;
};

} // namespace qv
