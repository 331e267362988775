#include "app/AppLifecycle.h"
#include "app/Application.h"
#include "catalogue/IsolatedReading.h"
#include "catalogue/SystemServices.h"
#include "model/NativeFileName.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char** argv)
{
    if (!qv::Application::prepareEnvironment()) {
        std::fputs("Quorvenda needs a graphical session: X11, or Wayland with XWayland or layer surfaces.\n", stderr);
        return 1;
    }
    qv::Application app(argc, argv);
    qv::installSystemServices();
    // Users' files are read in worker processes, never here.
    qv::IsolatedReading::setEnabled(true);
    // From the arguments' own bytes: Qt's text of a name that is not UTF-8 names another file.
    QList<QUrl> files;
    bool convertCopied = false;
    char* here = ::getcwd(nullptr, 0);
    const QByteArray workingFolder = here ? QByteArray(here) : QFile::encodeName(QDir::currentPath());
    std::free(here);
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        // The command users bind to a key where the desktop lends no global shortcut.
        if (argument == "--convert-copied") {
            convertCopied = true;
            continue;
        }
        const QUrl url = qv::fileUrlForArgument(argument, workingFolder, QSysInfo::machineHostName());
        if (url.isValid())
            files.append(url);
    }

    qv::AppLifecycle& lifecycle = qv::AppLifecycle::shared();
    if (const std::optional<int> exitCode = lifecycle.start(files, convertCopied))
        return *exitCode;
    lifecycle.openFileURLs(files);
    const int exitCode = app.exec();
    if (!lifecycle.finishQuit()) {
        // Static destructors must not run beside a worker that would not stop.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
