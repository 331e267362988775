#pragma once

#include <QByteArray>

typedef struct _XDisplay Display;

class QWidget;

namespace qv::test {

// Another X client posing as a compositing manager: it owns _NET_WM_CM_S<screen>, as one does
// while it runs.
class FakeCompositor {
public:
    explicit FakeCompositor(int screen = 0);
    ~FakeCompositor();
    bool isOpen() const { return m_display != nullptr; }

    void start();         // takes the selection
    void stop();          // gives it up
    void destroyWindow(); // loses it with the window that owned it
    void disconnect();    // loses it with the connection

private:
    Display* m_display = nullptr;
    unsigned long m_window = 0;
    unsigned long m_selection = 0;
};

// The depth the X server gave a window: 32 has an alpha channel; 0 when it cannot be asked.
int windowDepth(QWidget& window);

} // namespace qv::test
