// `quorvenda`: what the desktop, Open With and the file managers' menus start. With a Quorvenda
// already running in the session it hands the files over (or asks it to show itself) and ends,
// having loaded only Qt Core and Qt D-Bus; otherwise it becomes the application, whose
// libraries load only then.
#include "model/LaunchArguments.h"
#include "platform/desktop/InstanceForwarder.h"
#include "platform/desktop/TestHarness.h"
#include "platform/processes/HugePageMalloc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// The application beside this program: its own link of every library.
QByteArray applicationProgram()
{
    const QString given = qEnvironmentVariable("QUORVENDA_APP");
    if (!given.isEmpty())
        return QFile::encodeName(given);
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return QFile::encodeName(QFileInfo(self).absolutePath() + QStringLiteral("/quorvenda-app"));
}

bool handedOver(int argc, char** argv)
{
    // The test harness's application ends before it looks for another.
    if (qv::isRunningTests())
        return false;
    QCoreApplication core(argc, argv);
    // As the application reads them.
    const qv::LaunchArguments launch = qv::LaunchArguments::fromCommandLine(argc, argv);
    if (!qv::InstanceForwarder::isRunning())
        return false;
    // A refusal or a lost answer goes to the application, which says so.
    if (!launch.files.isEmpty())
        return qv::InstanceForwarder::forwardFiles(launch.files);
    if (launch.convertCopied)
        return qv::InstanceForwarder::callRunning(QStringLiteral("ConvertCopied"));
    // Started again from the menu: the running one shows its settings.
    std::fprintf(stderr, "Quorvenda is already running\n");
    return qv::InstanceForwarder::callRunning(QStringLiteral("Reopen"));
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> code = qv::LaunchArguments::answerAlone(argc, argv))
        return *code;
    if (handedOver(argc, argv))
        return 0;
    const QByteArray program = applicationProgram();
    qv::HugePageMalloc::passToExec();
    ::execv(program.constData(), argv);
    std::fprintf(stderr, "Cannot start %s: %s\n", program.constData(), std::strerror(errno));
    return 127;
}
