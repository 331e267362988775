#include "X11TestDriver.h"

#include <mutex>
#include <QSet>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <mutex>

#include <poll.h>
#include <time.h>

namespace qv::test {

namespace {

Display* dpyOf(void* display) { return static_cast<Display*>(display); }

// A fake owner writes to requestor windows that may be gone by then, as any owner may; those
// errors are its own to ignore. Every other connection's go to the handler there was before.
std::mutex g_ownerMutex;
QSet<Display*> g_ownerDisplays;
XErrorHandler g_previousHandler = nullptr;

int ownerErrorHandler(Display* dpy, XErrorEvent* error)
{
    {
        std::lock_guard locker(g_ownerMutex);
        if (g_ownerDisplays.contains(dpy))
            return 0;
    }
    return g_previousHandler ? g_previousHandler(dpy, error) : 0;
}

// A requestor with no limit would take an endless transfer until memory ran out.
constexpr qint64 endlessSafetyLimit = 256LL * 1024 * 1024;

} // namespace

qint64 monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

X11InputDriver::X11InputDriver()
{
    Display* dpy = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (dpy && !XTestQueryExtension(dpy, &event, &error, &major, &minor)) {
        XCloseDisplay(dpy);
        dpy = nullptr;
    }
    m_display = dpy;
}

X11InputDriver::~X11InputDriver()
{
    if (m_display)
        XCloseDisplay(dpyOf(m_display));
}

void X11InputDriver::sync() { XSync(dpyOf(m_display), False); }

void X11InputDriver::moveTo(int x, int y)
{
    XTestFakeMotionEvent(dpyOf(m_display), -1, x, y, CurrentTime);
    sync();
}

void X11InputDriver::pressAndDrag(int x, int y)
{
    moveTo(x, y);
    button(true);
    for (int step = 1; step <= 8; ++step)
        moveTo(x + 6 * step, y + 3 * step);
}

void X11InputDriver::releaseAll()
{
    key("Shift_L", false);
    key("Super_L", false);
    button(false);
}

void X11InputDriver::button(bool down)
{
    XTestFakeButtonEvent(dpyOf(m_display), 1, down, CurrentTime);
    sync();
}

void X11InputDriver::key(const char* keysymName, bool down)
{
    const KeyCode code = XKeysymToKeycode(dpyOf(m_display), XStringToKeysym(keysymName));
    XTestFakeKeyEvent(dpyOf(m_display), code, down, CurrentTime);
    sync();
}

void X11InputDriver::tap(const char* keysymName)
{
    key(keysymName, true);
    key(keysymName, false);
}

FakeXdndOwner::FakeXdndOwner(QByteArray uriList, int incrChunk)
    : m_body(std::move(uriList))
    , m_incrChunk(incrChunk)
{
    static std::once_flag installed;
    std::call_once(installed, [] { g_previousHandler = XSetErrorHandler(ownerErrorHandler); });
    m_thread = std::thread([this] { run(); });
    while (!m_ready && !m_failed)
        QThread::msleep(1);
}

FakeXdndOwner::~FakeXdndOwner()
{
    m_stop = true;
    m_thread.join();
}

void FakeXdndOwner::sendPartsForever(int pauseMs)
{
    m_pauseMs = pauseMs;
    m_forever = true;
}

qint64 FakeXdndOwner::takeSelection()
{
    const int before = m_takes;
    ++m_takeRequests;
    while (m_takes == before && m_ready)
        QThread::usleep(100);
    return m_takenAt;
}

void FakeXdndOwner::run()
{
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        m_failed = true;
        return;
    }
    {
        std::lock_guard locker(g_ownerMutex);
        g_ownerDisplays.insert(dpy);
    }
    const Window window = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    const Atom selection = XInternAtom(dpy, "XdndSelection", False);
    const Atom uriList = XInternAtom(dpy, "text/uri-list", False);
    const Atom incr = XInternAtom(dpy, "INCR", False);
    const Atom targets = XInternAtom(dpy, "TARGETS", False);
    XSync(dpy, False);
    m_ready = true;

    // One INCR transfer at a time is all the watcher asks for.
    Window incrWindow = None;
    Atom incrProperty = None;
    int incrOffset = 0;
    int takesDone = 0;
    // The requestor took the last part; the next is due then.
    bool partDue = false;
    qint64 partDueAt = 0;

    const auto sendPart = [&] {
        int length = int(qMin<qsizetype>(m_incrChunk, m_body.size() - incrOffset));
        if (length == 0 && m_forever) {
            incrOffset = 0;
            length = int(qMin<qsizetype>(m_incrChunk, m_body.size()));
        }
        XChangeProperty(dpy, incrWindow, incrProperty, uriList, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(m_body.constData() + incrOffset),
                        length);
        incrOffset += length;
        m_sent += length;
        if (length == 0) {
            XSelectInput(dpy, incrWindow, NoEventMask);
            incrWindow = None;
        }
        XFlush(dpy);
    };

    while (!m_stop) {
        if (partDue && monotonicNanoseconds() >= partDueAt) {
            partDue = false;
            if (incrWindow != None && m_sent < endlessSafetyLimit)
                sendPart();
        }
        if (m_takeRequests > takesDone) {
            ++takesDone;
            m_takenAt = monotonicNanoseconds();
            XSetSelectionOwner(dpy, selection, window, CurrentTime);
            XSync(dpy, False);
            ++m_takes;
        }
        if (XPending(dpy) == 0) {
            pollfd fd{ConnectionNumber(dpy), POLLIN, 0};
            poll(&fd, 1, 1);
            continue;
        }
        XEvent event;
        XNextEvent(dpy, &event);
        if (event.type == SelectionRequest) {
            const XSelectionRequestEvent& request = event.xselectionrequest;
            XSelectionEvent answer{};
            answer.type = SelectionNotify;
            answer.display = dpy;
            answer.requestor = request.requestor;
            answer.selection = request.selection;
            answer.target = request.target;
            answer.time = request.time;
            answer.property = None;
            if (request.target == targets && request.time != CurrentTime) {
                // As GTK and browser sources do, unlike Qt's.
                const Atom offered[] = {targets, uriList};
                XChangeProperty(dpy, request.requestor, request.property, XA_ATOM, 32,
                                PropModeReplace, reinterpret_cast<const unsigned char*>(offered), 2);
                answer.property = request.property;
            } else if (request.time == CurrentTime || request.target != uriList) {
                ++m_refused;
            } else if (m_incrChunk > 0 && m_body.size() > m_incrChunk) {
                const long size = long(m_body.size());
                XSelectInput(dpy, request.requestor, PropertyChangeMask);
                XChangeProperty(dpy, request.requestor, request.property, incr, 32,
                                PropModeReplace, reinterpret_cast<const unsigned char*>(&size), 1);
                incrWindow = request.requestor;
                incrProperty = request.property;
                incrOffset = 0;
                answer.property = request.property;
                partDue = false;
                ++m_answered;
            } else {
                XChangeProperty(dpy, request.requestor, request.property, uriList, 8,
                                PropModeReplace,
                                reinterpret_cast<const unsigned char*>(m_body.constData()),
                                int(m_body.size()));
                m_sent += m_body.size();
                answer.property = request.property;
                ++m_answered;
            }
            XSendEvent(dpy, request.requestor, False, 0, reinterpret_cast<XEvent*>(&answer));
            XFlush(dpy);
        } else if (event.type == PropertyNotify && event.xproperty.window == incrWindow
                   && event.xproperty.atom == incrProperty
                   && event.xproperty.state == PropertyDelete) {
            // The requestor took the last part: the next one, and an empty part at the end.
            partDue = true;
            partDueAt = monotonicNanoseconds() + qint64(m_pauseMs) * 1000000;
        }
    }
    XDestroyWindow(dpy, window);
    XCloseDisplay(dpy);
    std::lock_guard locker(g_ownerMutex);
    g_ownerDisplays.remove(dpy);
}

} // namespace qv::test
