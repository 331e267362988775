// Time from a drag source taking XdndSelection to the drag watcher reporting the file drag,
// through the real X11 back end. Needs an X server: DISPLAY=:n bench_drag_watcher_x11

#include "X11TestDriver.h"

#include "catalogue/SystemServices.h"
#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11DragSource.h"
#include "wheel/DragWatcher.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QThread>
#include <QUrl>

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

// Argument: the number of files; lists above 256 KB go in INCR parts of that size, as GTK
// sends them.
void dragReported(benchmark::State& state)
{
    const int count = int(state.range(0));
    QByteArray body;
    for (int i = 0; i < count; ++i)
        body += QUrl::fromLocalFile(QStringLiteral("/home/user/Pictures/Holiday 2025/IMG_%1.jpg")
                                        .arg(i, 5, 10, QLatin1Char('0')))
                    .toEncoded()
                + "\r\n";

    SettingsStore store{QString()};
    registerDefaultSettings(store);
    DragWatcher watcher(std::make_unique<X11DragSource>(), store, Clock::system());
    watcher.start();
    X11InputDriver input;
    FakeXdndOwner owner(body, 256 * 1024);
    if (!watcher.isAvailable() || !input.isOpen() || !owner.isOpen()) {
        state.SkipWithError("no usable X server");
        return;
    }
    qint64 reportedAt = 0;
    qsizetype reportedFiles = 0;
    bool ended = false;
    QObject::connect(&watcher, &DragWatcher::dragBegan, [&](const QList<QUrl>& urls) {
        reportedAt = monotonicNanoseconds();
        reportedFiles = urls.size();
    });
    QObject::connect(&watcher, &DragWatcher::dragEnded, [&] { ended = true; });
    input.moveTo(1900, 1000);

    for (auto _ : state) {
        reportedAt = 0;
        ended = false;
        input.button(true);
        const qint64 takenAt = owner.takeSelection();
        if (!waitFor([&] { return reportedAt != 0; }) || reportedFiles != count) {
            state.SkipWithError("the drag was not reported");
            input.button(false);
            return;
        }
        state.SetIterationTime(double(reportedAt - takenAt) / 1e9);
        input.button(false);
        waitFor([&] { return ended; });
    }
    state.counters["bytes"] = double(body.size());
}

BENCHMARK(dragReported)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "Set DISPLAY to an X server (for example Xvfb :99).\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    qv::installSystemServices();
    QLoggingCategory::setFilterRules(QStringLiteral("quorvenda.*.debug=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
