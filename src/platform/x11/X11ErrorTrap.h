#pragma once

// Xlib itself stays out of headers: its macros break Qt's.
typedef struct _XDisplay Display;

namespace qv {

// Collects the errors of the requests sent while it lives instead of letting Xlib's default
// handler end the process: errors about other clients' windows, which may be gone, and of
// grabs, which come back asynchronously, are answers, not faults. One at a time, on the thread
// that owns the display.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(Display* display);
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;
    ~X11ErrorTrap() { finish(); }

    // Waits for the server's answer to everything sent so far; the first error, or 0.
    int finish();

private:
    Display* m_display;
    bool m_done = false;
    int m_error = 0;
};

} // namespace qv
