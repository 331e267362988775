#include "support/HeadlessGnomeShell.h"

#include "support/WaitFor.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace qv::test {

namespace {

const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");

} // namespace

GnomeShell::GnomeShell(bool withExtension, const QStringList& otherExtensions)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{QStringLiteral(QV_SOURCE_DIR "/tests/support/gnome-shell/headless-shell.sh")};
    if (withExtension)
        args << QStringLiteral(QV_BUILD_DIR "/gnome-shell-extension/quorvenda@quorvenda.org");
    args << otherExtensions;
    m_process.start(QStringLiteral("bash"), args);
    waitFor([this] {
        m_output += m_process.readAll();
        return m_output.contains("shell ") || m_process.state() == QProcess::NotRunning;
    }, 60000);
    for (const QByteArray& line : m_output.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 6 && words[0] == "shell") {
            xauthority = QString::fromUtf8(words[5]);
            bus = QString::fromUtf8(words[1]);
            display = QString::fromUtf8(words[2]);
            wayland = QString::fromUtf8(words[3]);
            runtime = QString::fromUtf8(words[4]);
        }
    }
}

GnomeShell::~GnomeShell()
{
    if (!m_session.isEmpty())
        call(m_session, QStringLiteral("Session"), QStringLiteral("Stop"));
    QDBusConnection::disconnectFromBus(QStringLiteral("gnome-shell-test"));
    m_process.terminate();
    if (!m_process.waitForFinished(15000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool GnomeShell::skipped() const
{
    return m_process.state() == QProcess::NotRunning && m_process.exitCode() == 77;
}

QProcessEnvironment GnomeShell::environment(QProcessEnvironment env) const
{
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), wayland);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("XAUTHORITY"), xauthority);
    return env;
}

bool GnomeShell::startInput()
{
    m_bus = QDBusConnection::connectToBus(bus, QStringLiteral("gnome-shell-test"));
    const QDBusMessage created = call(QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), QString(),
                                      QStringLiteral("CreateSession"));
    if (created.type() != QDBusMessage::ReplyMessage || created.arguments().isEmpty())
        return false;
    m_session = qvariant_cast<QDBusObjectPath>(created.arguments().first()).path();
    return call(m_session, QStringLiteral("Session"), QStringLiteral("Start")).type()
        == QDBusMessage::ReplyMessage;
}

void GnomeShell::park(QPoint at)
{
    move(QPointF(4000, 4000));
    m_pointer = QPoint(1279, 799);
    reached(m_pointer);
    glide(at, 1);
    // What comes next asks the Shell where the pointer is, or presses there.
    reached(at);
}

void GnomeShell::glide(QPoint to, int steps)
{
    const QPoint from = m_pointer;
    for (int step = 1; step <= steps; ++step) {
        const QPoint at = from + (to - from) * step / steps;
        move(QPointF(at - m_pointer));
        m_pointer = at;
        // At a hand's pace: the Shell does not say where the pointer is while a drag is over
        // an X11 window.
        waitFor([] { return false; }, 20);
    }
}

std::optional<std::pair<QPoint, uint>> GnomeShell::shellPointer()
{
    const QJsonArray values = QJsonDocument::fromJson(eval(QStringLiteral("JSON.stringify(global.get_pointer())")).toUtf8()).array();
    if (values.size() != 3)
        return std::nullopt;
    return std::pair(QPoint(values[0].toInt(), values[1].toInt()), uint(values[2].toInteger()));
}

bool GnomeShell::reached(QPoint at)
{
    // Mutter keeps the pointer in fractions of a pixel and says where in whole ones.
    return waitFor([&] {
        const auto seen = shellPointer();
        return seen && (seen->first - at).manhattanLength() <= 2;
    }, 20000);
}

QString GnomeShell::eval(const QString& script)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                                                          QStringLiteral("org.gnome.Shell"), QStringLiteral("Eval"));
    message << script;
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || !reply.arguments().value(0).toBool())
        return {};
    // A string comes back as JSON too: its text.
    const QString result = reply.arguments().value(1).toString();
    if (result.startsWith(QLatin1Char('"')))
        return QJsonDocument::fromJson('[' + result.toUtf8() + ']').array().at(0).toString();
    return result;
}

QImage GnomeShell::screenshot(const QString& path)
{
    if (!m_bus.isConnected())
        m_bus = QDBusConnection::connectToBus(bus, QStringLiteral("gnome-shell-test"));
    QFile::remove(path);
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell.Screenshot"),
                                                          QStringLiteral("/org/gnome/Shell/Screenshot"),
                                                          QStringLiteral("org.gnome.Shell.Screenshot"),
                                                          QStringLiteral("Screenshot"));
    message << false << false << path;
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, 20000);
    if (reply.type() != QDBusMessage::ReplyMessage || !reply.arguments().value(0).toBool())
        return {};
    return QImage(reply.arguments().value(1).toString());
}

void GnomeShell::button(bool down, int button)
{
    call(m_session, QStringLiteral("Session"), QStringLiteral("NotifyPointerButton"), {button, down});
}

void GnomeShell::tap(uint keysym)
{
    // Held as long as a finger holds it: the Shell's extension looks at the keys every 16 ms.
    for (bool down : {true, false}) {
        key(keysym, down);
        waitFor([] { return false; }, 60);
    }
}

bool GnomeShell::hold(uint keysym, const std::function<bool()>& heard, int milliseconds)
{
    key(keysym, true);
    const bool happened = waitFor(heard, milliseconds);
    key(keysym, false);
    return happened;
}

void GnomeShell::key(uint keysym, bool down)
{
    call(m_session, QStringLiteral("Session"), QStringLiteral("NotifyKeyboardKeysym"), {keysym, down});
}

void GnomeShell::move(QPointF by)
{
    call(m_session, QStringLiteral("Session"), QStringLiteral("NotifyPointerMotionRelative"), {by.x(), by.y()});
}

QDBusMessage GnomeShell::call(const QString& path, const QString& interfaceSuffix, const QString& method,
                              const QList<QVariant>& args)
{
    const QString interface = interfaceSuffix.isEmpty() ? kRemoteDesktop
                                                        : kRemoteDesktop + QLatin1Char('.') + interfaceSuffix;
    QDBusMessage message = QDBusMessage::createMethodCall(kRemoteDesktop, path, interface, method);
    message.setArguments(args);
    return m_bus.call(message, QDBus::Block, 10000);
}

} // namespace qv::test
