// What the wheel's first view costs after the drag watcher, without the X server: from the
// dragged URLs to the convert wheel's content, read as one file of each kind (the road the
// application takes) and as a FileInfo per file (the road before). Argument: the file count.

#include "catalogue/SystemServices.h"
#include "catalogue/ToolRegistry.h"
#include "wheel/SelectionSummary.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QUrl>

#include <benchmark/benchmark.h>

using namespace qv;

namespace {

QList<QUrl> photos(int count)
{
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i)
        urls.append(QUrl::fromLocalFile(QStringLiteral("/home/someone/Pictures/Holidays/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0'))));
    return urls;
}

void byKinds(benchmark::State& state)
{
    const QList<QUrl> urls = photos(int(state.range(0)));
    for (auto _ : state) {
        const std::optional<SelectionSummary> summary = SelectionSummary::fromNamesAlone(urls);
        benchmark::DoNotOptimize(wheelContentForKinds(summary->kinds(), summary->counts(), WheelKind::convert));
    }
}

void byFiles(benchmark::State& state)
{
    const QList<QUrl> urls = photos(int(state.range(0)));
    for (auto _ : state) {
        QList<FileInfo> files;
        files.reserve(urls.size());
        for (const QUrl& url : urls)
            files.append(fileInfoFromName(url));
        benchmark::DoNotOptimize(wheelContentForSelection(files, WheelKind::convert));
    }
}

BENCHMARK(byKinds)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(byFiles)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qv::installSystemServices();
    QLoggingCategory::setFilterRules(QStringLiteral("quorvenda.*.debug=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
