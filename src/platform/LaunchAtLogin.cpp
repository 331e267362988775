#include "platform/LaunchAtLogin.h"

#include "model/SystemError.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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
    return QFileInfo::exists(autostartFilePath()) ? LaunchAtLoginStatus::enabled
                                                  : LaunchAtLoginStatus::notRegistered;
}

void setLaunchAtLogin(bool enabled)
{
    const LaunchAtLoginStatus before = launchAtLoginStatus();
    const QString path = autostartFilePath();
    if (enabled) {
        if (before == LaunchAtLoginStatus::enabled)
            return;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            throwFileError(file);
        file.write(desktopEntry().toUtf8());
        if (!file.commit())
            throwFileError(file);
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
