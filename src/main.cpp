#include "app/AppDelegate.h"
#include "app/Application.h"
#include "catalogue/IsolatedReading.h"
#include "catalogue/SystemServices.h"

#include <QDir>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (!qv::Application::prepareEnvironment()) {
        std::fputs("Quorvenda needs an X11 session (DISPLAY is not set).\n", stderr);
        return 1;
    }
    qv::Application app(argc, argv);
    qv::installSystemServices();
    // Users' files are read in worker processes, never here.
    qv::IsolatedReading::setEnabled(true);
    QList<QUrl> files;
    bool convertCopied = false;
    for (const QString& argument : app.arguments().mid(1)) {
        // The command users bind to a key where the desktop lends no global shortcut.
        if (argument == QLatin1String("--convert-copied")) {
            convertCopied = true;
            continue;
        }
        files.append(QUrl::fromUserInput(argument, QDir::currentPath(), QUrl::AssumeLocalFile));
    }

    qv::AppDelegate& delegate = qv::AppDelegate::shared();
    if (const std::optional<int> exitCode = delegate.applicationDidFinishLaunching(files, convertCopied))
        return *exitCode;
    delegate.openFileURLs(files);
    const int exitCode = app.exec();
    if (!delegate.applicationWillTerminate()) {
        // Static destructors must not run beside a worker that would not stop.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
