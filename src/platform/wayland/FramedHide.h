#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class QWindow;

namespace qv {

// Hides a window when no answer to a frame of it is on its way. Qt 6.4.2's Wayland client
// frees a window's frame callback twice when the window hides, or goes, while Qt's frame thread
// handles the compositor's answer to it, and libwayland aborts the application ("proxy->refcount
// > 0"; mended in Qt 6.4.3). Qt tells the window of an answer once it is handled: by an update
// request, or, where it came so late that Qt had called the window hidden, by an expose. Such a
// word may still be about an earlier frame while the answer to the last is being handled, so
// the window stops drawing at the first word and hides at the next: no frame is left then.
class FramedHide final : public QObject {
    Q_OBJECT

public:
    // Runs hide at once off Wayland or for a window not shown; on Wayland, once no answer to a
    // frame of the window is on its way, or after limitMs where the compositor answers nothing
    // (a window it does not draw). Hides asked for while one waits run together.
    static void run(QWindow* window, std::function<void()> hide);
    // Forgets the hide a window waits for: it is shown again, and draws again.
    static void cancel(QWindow* window);
    static bool isWaiting(const QWindow* window);

    // Long: a window hidden while its answer is on the way takes the application down, and one
    // the compositor does not draw is not seen meanwhile.
    static constexpr int limitMs = 2000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FramedHide(QWindow* window, std::function<void()> hide);
    static FramedHide* waiting(const QWindow* window);
    void answered();
    void finish();

    QWindow* m_window;
    std::function<void()> m_hide;
    QTimer m_limit;
    // Qt called the window hidden while it waited: an answer came late, or will not come.
    bool m_unexposed = false;
    // A first answer was handled, and the window has not drawn since.
    bool m_settled = false;
    bool m_heldBack = false;
};

} // namespace qv
