// One frame of the onboarding demonstration at the window's size (596×210), at a few moments
// of the loop; each must stay under 2 ms. Runs on the offscreen platform: bench_demo_frame

#include "app/welcome/DemoAnimation.h"
#include "catalogue/SystemServices.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

using namespace qv;

namespace {

// Argument: the loop time in milliseconds.
void drawFrame(benchmark::State& state)
{
    const DemoAnimation demo{{"JPG", "PNG", "HEIC", "WEBP", "AVIF", "PDF", "TIFF", "GIF"}, 6.5};
    const double t = double(state.range(0)) / 1000;
    QImage image(596, 210, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        demo.drawFrame(painter, 596, 210, t);
    }
}

// At rest, the wheel with the key cap and the file, the lit segment, the result.
BENCHMARK(drawFrame)->Arg(200)->Arg(1700)->Arg(3000)->Arg(4000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qv::installSystemServices();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
