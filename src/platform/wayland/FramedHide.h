#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class QWindow;

namespace qv {

// Hides a window when no answer to its last frame is on its way. Qt 6.4.2's Wayland client
// frees a window's frame callback twice when the window hides, or goes, while Qt's frame thread
// handles the compositor's answer to it, and libwayland aborts the application ("proxy->refcount
// > 0"; mended in Qt 6.4.3). Qt delivers an update request only once that answer is handled, so
// the window hides in answer to one.
class FramedHide final : public QObject {
    Q_OBJECT

public:
    // Runs hide at once off Wayland or for a window not shown; on Wayland, at the window's next
    // update request, or after limitMs where the compositor answers nothing (a window it does
    // not draw). Hides asked for while one waits run together.
    static void run(QWindow* window, std::function<void()> hide);
    // Forgets the hide a window waits for: it is shown again.
    static void cancel(QWindow* window);
    static bool isWaiting(const QWindow* window);

    static constexpr int limitMs = 100;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FramedHide(QWindow* window, std::function<void()> hide);
    static FramedHide* waiting(const QWindow* window);
    void finish();

    QWindow* m_window;
    std::function<void()> m_hide;
    QTimer m_limit;
};

} // namespace qv
