// Painting and writing the practice photo against `vips heifsave --Q 85` of the same 1200x800
// picture, both timed in one run, the median of 3 rounds each.
//   bench_practice_photo

#include "app/welcome/PracticePhoto.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qv;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("picture.png"));
    if (!PracticePhoto::paint().save(picture)) {
        std::fprintf(stderr, "could not write the picture\n");
        return 1;
    }
    std::vector<double> ours, theirs;
    for (int round = 0; round < 3; ++round) {
        const QString folder = dir.filePath(QStringLiteral("ours%1").arg(round));
        QElapsedTimer timer;
        timer.start();
        if (!PracticePhoto::make(folder)) {
            std::fprintf(stderr, "the photo could not be made\n");
            return 1;
        }
        ours.push_back(timer.nsecsElapsed() / 1e6);

        const QString out = dir.filePath(QStringLiteral("vips%1.heic").arg(round));
        timer.restart();
        if (QProcess::execute(QStringLiteral("vips"), {QStringLiteral("heifsave"), picture, out,
                                                       QStringLiteral("--Q"), QStringLiteral("85")})
            != 0) {
            std::fprintf(stderr, "vips heifsave failed\n");
            return 1;
        }
        theirs.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double a = median(ours);
    const double b = median(theirs);
    std::printf("| paint and write the practice photo | %.0f ms | vips heifsave --Q 85 %.0f ms | %.2f | 1.5 | %s |\n",
                a, b, a / b, a <= 1.5 * b ? "held" : "missed");
    return a <= 1.5 * b ? 0 : 1;
}
