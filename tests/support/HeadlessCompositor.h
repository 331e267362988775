#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace qv::test {

// A Wayland compositor run headless for one test, with a runtime folder and a session bus of
// its own: sway (headless, pixman; as an ordinary user when run as root, through setpriv) or
// KWin (a virtual screen; a copy without the installed file capability, fake input allowed).
// The start functions skip the test when the compositor or D-Bus is missing; call them from
// the test body and return on IsSkipped() or HasFatalFailure().
class HeadlessCompositor {
public:
    HeadlessCompositor() = default;
    HeadlessCompositor(const HeadlessCompositor&) = delete;
    HeadlessCompositor& operator=(const HeadlessCompositor&) = delete;
    ~HeadlessCompositor();

    void startSway(int width, int height);
    // With XWayland, whose display the clients are given too.
    void startKWin(int width, int height, bool xwayland = false);

    // What a client of this compositor runs with: its socket, its runtime folder, its bus.
    QProcessEnvironment clientEnvironment() const;
    // The end of what the compositor printed, for a failure's message.
    QByteArray log();
    QString runtimePath() const { return m_runtime.path(); }
    QString busAddress() const { return m_busAddress; }

private:
    bool startBus();
    bool waitForSocket();

    QTemporaryDir m_runtime;
    QProcess m_bus;
    QString m_busAddress;
    QProcess m_compositor;
    QString m_socket;
    QString m_xDisplay;
    QByteArray m_log;
};

} // namespace qv::test
