#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace qv::test {

// A headless GNOME Shell (tests/support/gnome-shell/headless-shell.sh) with our extension or
// without it, on a 1280 x 800 virtual screen, and input driven through Mutter's RemoteDesktop
// interface, as a remote-desktop client does.
class GnomeShell {
public:
    // With our extension enabled, or without it, and the other extensions' folders.
    explicit GnomeShell(bool withExtension, const QStringList& otherExtensions = {});
    GnomeShell(const GnomeShell&) = delete;
    GnomeShell& operator=(const GnomeShell&) = delete;
    ~GnomeShell();

    bool isRunning() const { return !bus.isEmpty(); }
    // The Shell cannot run here (the script said why in output()).
    bool skipped() const;
    QString output() const { return QString::fromUtf8(m_output); }

    // What a program of this session needs to find the compositor and the bus.
    QProcessEnvironment environment(QProcessEnvironment env) const;

    bool startInput();

    // The pointer to a point of the screen: first against its far corner (the hot corner is the
    // other one), then back by relative moves, which Mutter does not accelerate; once the Shell
    // has it there. Not during a drag, where the Shell does not say.
    void park(QPoint at);
    // In small steps, so that the drag source and the Shell see each position.
    void glide(QPoint to, int steps = 10);
    QPoint pointer() const { return m_pointer; }
    // Where the Shell has the pointer and its modifier state; nothing when it does not answer.
    std::optional<std::pair<QPoint, uint>> shellPointer();

    // What the Shell's script gives (JSON, or a string's own text), through its Eval, which the
    // tests' own extension opens; empty on an error. After startInput().
    QString eval(const QString& script);

    // The whole screen as the Shell shows it, through its screenshot interface, which the
    // tests' own extension opens (unsafe mode); null when it gave none.
    QImage screenshot(const QString& path);

    void button(bool down, int button = 0x110);
    // A key by its X keysym, pressed and let go, or only pressed or only let go.
    void tap(uint keysym);
    void key(uint keysym, bool down);
    // A key held until what it is for has happened (the extension looks at the modifiers only
    // every 16 ms, later on a busy machine), then let go; whether it happened.
    bool hold(uint keysym, const std::function<bool()>& heard, int milliseconds);

    QString bus;
    QString display;
    QString wayland;
    QString runtime;
    QString xauthority;

private:
    void move(QPointF by);
    // Until the Shell has the pointer at the point (not while a drag is on).
    bool reached(QPoint at);
    QDBusMessage call(const QString& path, const QString& interfaceSuffix, const QString& method,
                      const QList<QVariant>& args = {});

    QProcess m_process;
    QByteArray m_output;
    QDBusConnection m_bus{QString()};
    QString m_session;
    QPoint m_pointer;
};

} // namespace qv::test
