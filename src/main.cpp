#include "app/AppDelegate.h"
#include "app/Application.h"

#include <QDir>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv)
{
    if (!qv::Application::prepareEnvironment()) {
        std::fputs("Quorvenda needs an X11 session (DISPLAY is not set).\n", stderr);
        return 1;
    }
    qv::Application app(argc, argv);
    qv::AppDelegate& delegate = qv::AppDelegate::shared();
    if (!delegate.applicationDidFinishLaunching())
        return 0;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &qv::AppDelegate::cancelRunningJobs);

    QList<QUrl> files;
    for (const QString& argument : app.arguments().mid(1))
        files.append(QUrl::fromUserInput(argument, QDir::currentPath(), QUrl::AssumeLocalFile));
    delegate.openFileURLs(files);
    return app.exec();
}
