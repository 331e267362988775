#pragma once

#include "platform/ui/KeyPanel.h"

#include <QPointer>

#include <functional>

namespace qv {

class ScreenProvider;

// The window of every editor and of the options sheet. Closing it without finishing counts as a
// cancel; Escape closes it. While open it sits in openEditorWindows(), which keeps it alive; a
// closed window deletes itself.
class EditorWindow : public KeyPanel {
    Q_OBJECT
public:
    explicit EditorWindow(bool resizable = false, QWidget* parent = nullptr);
    ~EditorWindow() override;

    std::function<void()> onCancel; // run when the window closes unfinished
    bool finished = false;

    bool isResizable() const { return m_resizable; }

    // Moves the window back inside its screen's visible frame, 12 points from the edges.
    void keepOnScreen(const ScreenProvider& screens);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool m_resizable = false;
    bool m_closed = false;
};

// The open editor windows, oldest first; main thread only.
QList<EditorWindow*>& openEditorWindows();

// Closes the window as finished, so the closing is not a cancel. Nothing when it is gone.
void finishEditor(const QPointer<EditorWindow>& window);

} // namespace qv
