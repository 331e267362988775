#include "RunningApp.h"

#include "platform/desktop/SingleInstance.h"
#include "support/WaitFor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace qv::test {

namespace {

const QString program = QStringLiteral(QV_BUILD_DIR "/quorvenda");

} // namespace

RunningApp::RunningApp()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setProcessEnvironment(environment());
}

RunningApp::~RunningApp()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QProcessEnvironment RunningApp::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quorvenda.*.debug=true"));
    // The same lines whatever the machine's journal or the developer's pattern.
    env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{category}: %{message}"));
    return env;
}

void RunningApp::prependToPath(const QString& folder)
{
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(QStringLiteral("PATH"), folder + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    m_process.setProcessEnvironment(env);
}

void RunningApp::start(const QStringList& arguments)
{
    m_process.start(program, arguments);
}

int RunningApp::runAnother(const QStringList& arguments, QString* output)
{
    QProcess other;
    other.setProcessChannelMode(QProcess::MergedChannels);
    other.setProcessEnvironment(environment());
    other.start(program, arguments);
    // The running one answers over the bus: keep this loop turning meanwhile.
    const bool ended = waitFor([&] { return other.state() == QProcess::NotRunning; }, 10000);
    if (output)
        *output = QString::fromUtf8(other.readAll());
    if (!ended) {
        other.kill();
        other.waitForFinished(5000);
        return -1;
    }
    return other.exitStatus() == QProcess::NormalExit ? other.exitCode() : -1;
}

QStringList RunningApp::lines()
{
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output).split(QLatin1Char('\n'));
}

bool RunningApp::hasLine(const QString& category, const QString& message)
{
    return lines().contains(QStringLiteral("quorvenda.%1: %2").arg(category, message));
}

bool RunningApp::waitForLine(const QString& category, const QString& message, int milliseconds)
{
    return waitFor([&] { return hasLine(category, message); }, milliseconds);
}

QString RunningApp::lineStartingWith(const QString& category, const QString& prefix)
{
    const QString start = QStringLiteral("quorvenda.%1: %2").arg(category, prefix);
    for (const QString& line : lines()) {
        if (line.startsWith(start))
            return line;
    }
    return {};
}

QString RunningApp::log()
{
    lines();
    return QString::fromUtf8(m_output);
}

X11Keys::X11Keys()
{
    Display* dpy = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (dpy && !XTestQueryExtension(dpy, &event, &error, &major, &minor)) {
        XCloseDisplay(dpy);
        dpy = nullptr;
    }
    m_display = dpy;
}

X11Keys::~X11Keys()
{
    if (m_display)
        XCloseDisplay(static_cast<Display*>(m_display));
}

void X11Keys::chord(const QStringList& keysymNames)
{
    press(keysymNames);
    release(keysymNames);
}

void X11Keys::press(const QStringList& keysymNames)
{
    auto* dpy = static_cast<Display*>(m_display);
    for (const QString& name : keysymNames)
        XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, XStringToKeysym(name.toLatin1().constData())), True,
                          CurrentTime);
    XSync(dpy, False);
}

void X11Keys::release(const QStringList& keysymNames)
{
    auto* dpy = static_cast<Display*>(m_display);
    for (auto it = keysymNames.crbegin(); it != keysymNames.crend(); ++it)
        XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, XStringToKeysym(it->toLatin1().constData())), False,
                          CurrentTime);
    XSync(dpy, False);
}

void X11Keys::click(int x, int y)
{
    auto* dpy = static_cast<Display*>(m_display);
    XTestFakeMotionEvent(dpy, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
    XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
    XSync(dpy, False);
}

void X11Keys::move(int x, int y)
{
    auto* dpy = static_cast<Display*>(m_display);
    XTestFakeMotionEvent(dpy, -1, x, y, CurrentTime);
    XSync(dpy, False);
}

void X11Keys::button(bool down)
{
    auto* dpy = static_cast<Display*>(m_display);
    XTestFakeButtonEvent(dpy, 1, down ? True : False, CurrentTime);
    XSync(dpy, False);
}

bool sessionBusNameFree()
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    return waitFor([bus] { return !bus->isServiceRegistered(SingleInstance::serviceName).value(); },
                   10000);
}

} // namespace qv::test
