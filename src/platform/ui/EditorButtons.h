#pragma once

#include <QWidget>

#include <functional>

class QPushButton;

namespace qv {

// The row at the foot of every editor: "Cancel" (Escape) and the action button (Return),
// right-aligned. Only the action button can be disabled.
class EditorButtons : public QWidget {
    Q_OBJECT
public:
    EditorButtons(const QString& actionTitle, std::function<void()> cancel,
                  std::function<void()> apply, QWidget* parent = nullptr);

    void setActionEnabled(bool enabled);
    bool isActionEnabled() const;

    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* actionButton() const { return m_action; }

private:
    QPushButton* m_cancel;
    QPushButton* m_action;
};

} // namespace qv
