#include "support/FakeCompositor.h"

#include <QWidget>

#include <X11/Xlib.h>

namespace qv::test {

FakeCompositor::FakeCompositor(int screen)
    : m_display(XOpenDisplay(nullptr))
{
    if (!m_display)
        return;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    m_selection = XInternAtom(m_display, name.constData(), False);
}

FakeCompositor::~FakeCompositor()
{
    disconnect();
}

void FakeCompositor::start()
{
    if (!m_window)
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), -10, -10, 1, 1, 0, 0, 0);
    XSetSelectionOwner(m_display, m_selection, m_window, CurrentTime);
    XSync(m_display, False);
}

void FakeCompositor::stop()
{
    XSetSelectionOwner(m_display, m_selection, None, CurrentTime);
    XSync(m_display, False);
}

void FakeCompositor::destroyWindow()
{
    if (!m_window)
        return;
    XDestroyWindow(m_display, m_window);
    m_window = 0;
    XSync(m_display, False);
}

void FakeCompositor::disconnect()
{
    if (!m_display)
        return;
    XCloseDisplay(m_display);
    m_display = nullptr;
    m_window = 0;
}

int windowDepth(QWidget& window)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    XWindowAttributes attributes{};
    const int depth = XGetWindowAttributes(display, window.winId(), &attributes) ? attributes.depth : 0;
    XCloseDisplay(display);
    return depth;
}

} // namespace qv::test
