#include "platform/desktop/LaunchAtLogin.h"

#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "platform/files/FileContents.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace qv {

namespace {

QString desktopEntry()
{
    QString program = QCoreApplication::applicationFilePath();
    if (QFileInfo(program).fileName() != QLatin1String("quorvenda"))
        program = QStringLiteral("quorvenda");
    if (program.contains(QLatin1Char(' ')) || program.contains(QLatin1Char('"')))
        program = QLatin1Char('"') + QString(program).replace(QLatin1Char('"'), QLatin1String("\\\""))
            + QLatin1Char('"');
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Quorvenda\n"
                          "Comment=Choose what to do with the files you drag\n"
                          "Exec=%1\n"
                          "Icon=quorvenda\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(program);
}

[[noreturn]] void throwFileError(const QFileDevice& file)
{
    throw SystemError(QStringLiteral("QFileDevice"), static_cast<int>(file.error()),
                      file.errorString());
}

} // namespace

QString autostartFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/quorvenda.desktop");
}

LaunchAtLoginStatus launchAtLoginStatus()
{
    QFile file(autostartFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return LaunchAtLoginStatus::notRegistered;
    // Session settings switch an entry off in place rather than delete it; such an entry
    // starts nothing and must be written anew to switch it back on.
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true"))
            || (key == QLatin1String("X-GNOME-Autostart-enabled")
                && value == QLatin1String("false")))
            return LaunchAtLoginStatus::notRegistered;
    }
    return LaunchAtLoginStatus::enabled;
}

void setLaunchAtLogin(bool enabled)
{
    const LaunchAtLoginStatus before = launchAtLoginStatus();
    const QString path = autostartFilePath();
    if (enabled) {
        if (before == LaunchAtLoginStatus::enabled)
            return;
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder))
            throw SystemError(QStringLiteral("QDir"), 0,
                              QStringLiteral("Cannot create the folder %1").arg(folder));
        // A short entry would replace one the session had switched off, or start nothing.
        if (auto error = FileContents::replace(path, desktopEntry().toUtf8()))
            throw *error;
    } else {
        if (before == LaunchAtLoginStatus::notRegistered)
            return;
        QFile file(path);
        if (!file.remove())
            throwFileError(file);
    }
    qCInfo(appLog, "Launch at login set to %s; status %ld", enabled ? "true" : "false",
           static_cast<long>(launchAtLoginStatus()));
}

} // namespace qv
