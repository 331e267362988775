// The worker: runs work items for the application in a process of their own, so that a file
// that crashes or hangs a library costs one item.
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

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char** argv)
{
    // Background work yields to what the user is doing; the programs it starts inherit this.
    qv::ProcessPriority::lowerForBackground();
    // A JPEG, PNG, GIF or WebP needs none of libvips' modules: they load with the first file that does.
    qv::deferVipsModules();
    // Behind the worker's walls a media file is described by libavformat here, not by an FFmpeg start.
    qv::setNativeProbeAllowed(true);
    // Replies go out on a descriptor of their own; whatever a library prints lands in the log.
    const int replies = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qv::installSystemServices();
    qv::registerDefaultSettings();
    // Workers are started ahead of need: the catalogue is built before the first item waits.
    qv::catalogueOperation(QString());
    qv::WorkerServer::Calls calls = qv::IsolatedReading::workerCalls();
    calls.insert(qv::IsolatedPictureReading::workerCalls());
    calls.insert(qv::IsolatedPdfReading::workerCalls());
    calls.insert(qv::IsolatedDocumentReading::workerCalls());
    const int code = qv::WorkerServer::serve(STDIN_FILENO, replies, qv::catalogueOperation, calls);
    // Every reply is written by now and the application removes what is left in the worker's
    // folder. Tearing Qt down would only read fontconfig's configuration to drop it, while the
    // application waits for this process to end.
    std::fflush(nullptr);
    std::_Exit(code);
}
