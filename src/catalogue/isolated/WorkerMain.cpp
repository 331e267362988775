#include "catalogue/isolated/WorkerMain.h"

#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedDocumentReading.h"
#include "catalogue/isolated/IsolatedPdfReading.h"
#include "catalogue/isolated/IsolatedPictureReading.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "catalogue/SystemServices.h"
#include "engines/image/VipsRuntime.h"
#include "engines/media/probe/NativeMediaProbe.h"
#include "jobs/WorkerServer.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/processes/ProcessPriority.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include <unistd.h>

namespace qv {

int workerMain(int argc, char** argv)
{
    // Background work yields to what the user is doing; the programs it starts inherit this.
    ProcessPriority::lowerForBackground();
    // A JPEG, PNG, GIF or WebP needs none of libvips' modules: they load with the first file that does.
    deferVipsModules();
    // Behind the worker's walls a media file is described by libavformat here, not by an FFmpeg start.
    setNativeProbeAllowed(true);
    // Replies go out on a descriptor of their own; whatever a library prints lands in the log.
    const int replies = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // libvips for a worker made for a picture tool: opened and started while the rest starts
    // and the first request is on its way, and done before it is read: the walls go up then,
    // and hold for the thread that puts them up alone.
    std::thread loading;
    if (qgetenv(WorkerProtocol::loadAheadVariable) == "vips")
        loading = startVipsAside();
    QGuiApplication app(argc, argv);
    installSystemServices();
    registerDefaultSettings();
    // Workers are started ahead of need: the catalogue is built before the first item waits.
    catalogueOperation(QString());
    WorkerServer::Calls calls = IsolatedReading::workerCalls();
    calls.insert(IsolatedPictureReading::workerCalls());
    calls.insert(IsolatedPdfReading::workerCalls());
    calls.insert(IsolatedDocumentReading::workerCalls());
    const int code = WorkerServer::serve(STDIN_FILENO, replies, catalogueOperation, calls, [&loading] {
        finishVipsAside(loading);
    });
    // Every reply is written by now and the application removes what is left in the worker's
    // folder. Tearing Qt down would only read fontconfig's configuration to drop it, while the
    // application waits for this process to end.
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace qv
