#include "app/Application.h"
#include "app/AppLifecycle.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "catalogue/isolated/WorkerTemplate.h"
#include "catalogue/SystemServices.h"
#include "model/LaunchArguments.h"
#include "platform/processes/HugePageMalloc.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    qv::HugePageMalloc::takeFromEnvironment();
    if (const std::optional<int> code = qv::LaunchArguments::answerAlone(argc, argv))
        return *code;
    qv::WorkerTemplate::forkAtStart(argc, argv);
    // The workers' template has the huge pages; the tray application itself does without.
    qv::HugePageMalloc::keepForWorkers();
    if (!qv::Application::prepareEnvironment()) {
        std::fputs("Quorvenda needs a graphical session: X11, or Wayland with XWayland or layer surfaces.\n", stderr);
        return 1;
    }
    qv::Application app(argc, argv);
    qv::installSystemServices();
    // Users' files are read in worker processes, never here.
    qv::IsolatedReading::setEnabled(true);
    qv::askWorkersForImageTypes();
    const qv::LaunchArguments launch = qv::LaunchArguments::fromCommandLine(argc, argv);

    qv::AppLifecycle& lifecycle = qv::AppLifecycle::shared();
    if (const std::optional<int> exitCode = lifecycle.start(launch.files, launch.convertCopied))
        return *exitCode;
    lifecycle.openFileURLs(launch.files);
    const int exitCode = app.exec();
    if (!lifecycle.finishQuit()) {
        // Static destructors must not run beside a worker that would not stop.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
