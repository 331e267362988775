#include "support/HeadlessCompositor.h"

#include "support/WaitFor.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::test {

namespace {

constexpr int timeoutMs = 20000;

} // namespace

HeadlessCompositor::~HeadlessCompositor()
{
    for (QProcess* process : {&m_compositor, &m_bus}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

bool HeadlessCompositor::startBus()
{
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=" QV_SOURCE_DIR "/tests/support/session-bus.conf"),
                 QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted(10000))
        return false;
    while (!m_bus.canReadLine() && m_bus.waitForReadyRead(10000)) {
    }
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    return !m_busAddress.isEmpty();
}

bool HeadlessCompositor::waitForSocket()
{
    return waitFor([this] {
        const QStringList sockets = QDir(m_runtime.path()).entryList({QStringLiteral("wayland-*")}, QDir::System);
        for (const QString& name : sockets) {
            if (!name.endsWith(QLatin1String(".lock"))) {
                m_socket = name;
                return true;
            }
        }
        return m_compositor.state() == QProcess::NotRunning;
    }, timeoutMs) && !m_socket.isEmpty();
}

void HeadlessCompositor::startSway(int width, int height)
{
    const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
    if (sway.isEmpty())
        GTEST_SKIP() << "sway is not installed";
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_TRUE(m_runtime.isValid());
    ASSERT_TRUE(startBus());
    QFile config(m_runtime.filePath(QStringLiteral("sway.conf")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    // No key repeats: a tap the tests make, pressed and let go as two requests, could otherwise
    // outlast the repeat delay on a busy machine and type its letter twice.
    ASSERT_GT(config.write(QStringLiteral("output HEADLESS-1 resolution %1x%2\n"
                                          "input type:keyboard repeat_rate 0\n").arg(width).arg(height).toUtf8()), 0);
    config.close();
    QStringList command{sway, QStringLiteral("-c"), config.fileName()};
    // sway refuses to run as root: it runs as an ordinary user, in a folder that user owns.
    if (geteuid() == 0) {
        const passwd* user = getpwnam("cloudsdk");
        if (!user)
            user = getpwnam("nobody");
        if (!user || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            GTEST_SKIP() << "running as root without setpriv or an ordinary user for sway";
        ASSERT_EQ(chown(QFile::encodeName(m_runtime.path()).constData(), user->pw_uid, user->pw_gid), 0);
        ASSERT_EQ(chown(QFile::encodeName(config.fileName()).constData(), user->pw_uid, user->pw_gid), 0);
        command = QStringList{QStringLiteral("--reuid=%1").arg(user->pw_uid),
                              QStringLiteral("--regid=%1").arg(user->pw_gid),
                              QStringLiteral("--clear-groups")} + command;
        command.prepend(QStringLiteral("setpriv"));
    }
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    env.insert(QStringLiteral("HOME"), m_runtime.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    m_compositor.setProcessEnvironment(env);
    m_compositor.setProcessChannelMode(QProcess::MergedChannels);
    m_compositor.start(command.takeFirst(), command);
    ASSERT_TRUE(waitForSocket()) << log().constData();
}

void HeadlessCompositor::startKWin(int width, int height, bool xwayland)
{
    const QString kwin = QStandardPaths::findExecutable(QStringLiteral("kwin_wayland"));
    if (kwin.isEmpty())
        GTEST_SKIP() << "kwin_wayland is not installed";
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_TRUE(m_runtime.isValid());
    ASSERT_TRUE(startBus());
    // The installed program carries a file capability that containers refuse; a copy has none.
    const QString copy = m_runtime.filePath(QStringLiteral("kwin_wayland"));
    ASSERT_TRUE(QFile::copy(kwin, copy));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("HOME"), m_runtime.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_runtime.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    // No key repeats, as on sway.
    ASSERT_TRUE(QDir(m_runtime.path()).mkpath(QStringLiteral("config")));
    QFile input(m_runtime.filePath(QStringLiteral("config/kcminputrc")));
    ASSERT_TRUE(input.open(QIODevice::WriteOnly));
    ASSERT_GT(input.write("[Keyboard]\nKeyRepeat=nothing\n"), 0);
    input.close();
    // Lets the tests' input driver use the fake input.
    env.insert(QStringLiteral("KWIN_WAYLAND_NO_PERMISSION_CHECKS"), QStringLiteral("1"));
    // Lets a test take the screen through KWin's own screenshot interface.
    env.insert(QStringLiteral("KWIN_SCREENSHOT_NO_PERMISSION_CHECKS"), QStringLiteral("1"));
    m_compositor.setProcessEnvironment(env);
    m_compositor.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{QStringLiteral("--virtual"), QStringLiteral("--no-lockscreen"),
                          QStringLiteral("--no-global-shortcuts"), QStringLiteral("--no-kactivities"),
                          QStringLiteral("--width"), QString::number(width),
                          QStringLiteral("--height"), QString::number(height),
                          QStringLiteral("--socket"), QStringLiteral("wayland-quorvenda")};
    const QString displayFile = m_runtime.filePath(QStringLiteral("x-display"));
    if (xwayland) {
        if (QStandardPaths::findExecutable(QStringLiteral("Xwayland")).isEmpty())
            GTEST_SKIP() << "Xwayland is not installed";
        // XWayland's sockets live there.
        if (::mkdir("/tmp/.X11-unix", 01777) == 0)
            ::chmod("/tmp/.X11-unix", 01777);
        // A program KWin starts once XWayland is up tells its display.
        arguments << QStringLiteral("--xwayland")
                  << QStringLiteral("sh -c 'printf %s \"$DISPLAY\" > %1.part && mv %1.part %1'").arg(displayFile);
    }
    m_compositor.start(copy, arguments);
    ASSERT_TRUE(waitForSocket()) << log().constData();
    if (xwayland) {
        ASSERT_TRUE(waitFor([&] { return QFile::exists(displayFile) || m_compositor.state() == QProcess::NotRunning; },
                            timeoutMs))
            << log().constData();
        QFile display(displayFile);
        ASSERT_TRUE(display.open(QIODevice::ReadOnly));
        m_xDisplay = QString::fromUtf8(display.readAll()).trimmed();
        ASSERT_FALSE(m_xDisplay.isEmpty()) << log().constData();
    }
}

QProcessEnvironment HeadlessCompositor::clientEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    if (!m_xDisplay.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), m_xDisplay);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_socket);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quorvenda.*.debug=true"));
    return env;
}

QByteArray HeadlessCompositor::log()
{
    m_log += m_compositor.readAll();
    return m_log.right(3000);
}

} // namespace qv::test
