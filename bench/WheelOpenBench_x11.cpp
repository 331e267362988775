// Time from the user's tap of Shift, while a drag of files is under way, to the wheel's window
// being mapped on screen, through the real X11 back end, the drag watcher, the file inspection
// and the operation registry, with real JPEG files and the centre's picture made as in the
// application. The clock starts just before the key event goes to the X server. (A tap made
// before the drag's files are read is tested in DragWatcherTest: here the keys are heard only
// once the drag's selection is seen, so such a tap would race the watcher.)
// Needs an X server: DISPLAY=:n bench_wheel_open_x11

#include "X11TestDriver.h"

#include "catalogue/SystemServices.h"
#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11DragSource.h"
#include "wheel/DragWatcher.h"
#include "wheel/ui/WheelController.h"
#include "wheel/ui/WheelPanel.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace qv;
using namespace qv::test;

namespace {

bool waitFor(const std::function<bool()>& condition, int limitMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

// A small real JPEG, written once and copied for every file.
QByteArray smallJpeg()
{
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(40, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", 90);
    return bytes;
}

// Argument: the number of dragged files, real JPEGs in a temporary folder.
void wheelMapped(benchmark::State& state)
{
    const int count = int(state.range(0));
    QTemporaryDir dir;
    QByteArray body;
    const QByteArray jpeg = smallJpeg();
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size()) {
            state.SkipWithError("cannot write the files");
            return;
        }
        body += QUrl::fromLocalFile(path).toEncoded() + "\r\n";
    }

    SettingsStore store{QString()};
    registerDefaultSettings(store);
    DragWatcher watcher(std::make_unique<X11DragSource>(), store, Clock::system());
    WheelController::Services services = WheelController::Services::system();
    services.settings = &store;
    services.refreshExternalApps = {};
    services.nudgePointer = [&watcher] { watcher.nudgePointer(); };
    services.dispatch = {};
    WheelController controller(services);
    controller.attach(watcher);
    // As the application does at launch.
    controller.prepare();
    watcher.start();
    X11InputDriver input;
    FakeXdndOwner owner(body, 256 * 1024);
    if (!watcher.isAvailable() || !input.isOpen() || !owner.isOpen()) {
        state.SkipWithError("no usable X server");
        return;
    }
    const auto exposed = [&controller] {
        const QWindow* window = controller.panel().windowHandle();
        return window && window->isExposed();
    };
    input.moveTo(900, 500);

    for (auto _ : state) {
        input.button(true);
        owner.takeSelection();
        // The drag is under way and its files read, as when a user taps a moment later.
        if (!waitFor([&] { return watcher.isFileDragActive() && controller.session(); })) {
            state.SkipWithError("the drag was not seen");
            input.button(false);
            return;
        }
        const qint64 tappedAt = monotonicNanoseconds();
        input.key("Shift_L", true);
        if (!waitFor(exposed)) {
            state.SkipWithError("the wheel did not open");
            input.key("Shift_L", false);
            input.button(false);
            return;
        }
        const qint64 mappedAt = monotonicNanoseconds();
        state.SetIterationTime(double(mappedAt - tappedAt) / 1e9);
        input.key("Shift_L", false);
        input.button(false);
        waitFor([&] { return !watcher.isFileDragActive(); });
        controller.closeWheel(false);
        waitFor([&] { return !exposed(); });
    }
    state.counters["files"] = count;
}

BENCHMARK(wheelMapped)->Arg(1)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "Set DISPLAY to an X server (for example Xvfb :99).\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    qv::installSystemServices();
    QLoggingCategory::setFilterRules(QStringLiteral("quorvenda.*.debug=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
