// Peak memory of writing an animation as a GIF or as a frame sequence: run it on animations of
// N and 2N frames; flat figures mean the frames are never all held at once.
// Usage: bench_animation_memory gif|frames SOURCE OUTPUT (a .gif file, or an existing folder).

#include "engines/image/ImageFrames.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <sys/resource.h>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s gif|frames SOURCE OUTPUT\n", argv[0]);
        return 2;
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString source = QString::fromLocal8Bit(argv[2]);
    const QString output = QString::fromLocal8Bit(argv[3]);
    QElapsedTimer timer;
    timer.start();
    try {
        if (mode == QLatin1String("gif"))
            qv::ImageFrames::writeGIF(source, output, 0, {});
        else
            qv::ImageFrames::writeFrameSequence(source, output, {});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: %lld ms, peak resident %ld MB\n", argv[1], static_cast<long long>(timer.elapsed()),
                usage.ru_maxrss / 1024);
    return 0;
}
