// Start to tray icon: this program is the session's tray host (a StatusNotifierWatcher on the
// bus it runs on) and starts a program N times, timing each from its exec to its icon's
// registration (a line "run MS" each, then "median MS"); then, given IDLE seconds, starts it
// once more, leaves it idle that long and prints its Pss, alone and with every process below it.
// Usage: bench_tray_start RUNS IDLE-SECONDS PROGRAM [ARGUMENTS...]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <csignal>

namespace {

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    QElapsedTimer clock;
    qint64 registeredAt = -1;
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return {}; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString&)
    {
        if (registeredAt < 0)
            registeredAt = clock.nsecsElapsed();
    }
    void RegisterStatusNotifierHost(const QString&) { }

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString&);
    void StatusNotifierItemUnregistered(const QString&);
    void StatusNotifierHostRegistered();
};

// Pss in kB of one process, 0 when it is gone.
long pss(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toLong();
    return 0;
}

// The process and every one below it.
QList<qint64> tree(qint64 pid)
{
    QList<qint64> all{pid};
    for (qsizetype i = 0; i < all.size(); ++i) {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(all[i]));
        if (children.open(QIODevice::ReadOnly))
            for (const QByteArray& child : children.readAll().split(' '))
                if (!child.trimmed().isEmpty())
                    all.append(child.trimmed().toLongLong());
    }
    return all;
}

void stop(QProcess& process)
{
    for (qint64 pid : tree(process.processId()))
        if (pid != process.processId())
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: bench_tray_start RUNS IDLE-SECONDS PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const int runs = arguments[1].toInt();
    const int idle = arguments[2].toInt();
    Watcher watcher;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties)
        || !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "could not be the tray host on this bus\n");
        return 1;
    }
    QList<double> times;
    for (int run = 0; run < runs + (idle > 0 ? 1 : 0); ++run) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        watcher.registeredAt = -1;
        watcher.clock.start();
        process.start(arguments[3], arguments.mid(4));
        while (watcher.registeredAt < 0 && process.state() != QProcess::NotRunning)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (watcher.registeredAt < 0) {
            std::fprintf(stderr, "%s ended without an icon\n", qPrintable(arguments[3]));
            return 1;
        }
        if (run < runs) {
            times.append(watcher.registeredAt / 1e6);
            std::printf("run %.1f\n", times.last());
        } else {
            QEventLoop wait;
            QTimer::singleShot(idle * 1000, &wait, &QEventLoop::quit);
            wait.exec();
            long all = 0;
            for (qint64 pid : tree(process.processId()))
                all += pss(pid);
            std::printf("pss %.1f %.1f\n", pss(process.processId()) / 1024.0, all / 1024.0);
        }
        stop(process);
    }
    if (!times.isEmpty()) {
        std::sort(times.begin(), times.end());
        std::printf("median %.1f\n", times[times.size() / 2]);
    }
    return 0;
}

#include "TrayStartBench.moc"
