#include "platform/processes/QuitOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qv {

namespace {

int g_pipe[2] = {-1, -1};
std::function<void(int)> g_onSignal;

void onSignal(int signal)
{
    // Only async-signal-safe work here, and errno as the interrupted code left it.
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // Never blocks: a full pipe already holds a pending quit.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void takeSignals()
{
    unsigned char bytes[64];
    int first = 0;
    ssize_t got;
    while ((got = ::read(g_pipe[0], bytes, sizeof bytes)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0 && first == 0)
            first = bytes[0];
    }
    if (first == 0)
        return;
    // A copy: the handler may install another one.
    if (const std::function<void(int)> handler = g_onSignal)
        handler(first);
    else
        QCoreApplication::quit();
}

} // namespace

void quitOnTerminationSignals(std::function<void(int signal)> handler)
{
    g_onSignal = std::move(handler);
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            g_pipe[0] = g_pipe[1] = -1;
            return;
        }
        auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read,
                                             QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { takeSignals(); });
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace qv
