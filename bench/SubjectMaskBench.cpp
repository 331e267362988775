// Subject masks of the trained model against the old saliency heuristic on photos whose true
// mask is known, then the model's time and memory on a 12-megapixel photo, and pictures with
// no subject. Run by bench/subject_masks.sh, which makes the photos.
//   bench_subject_masks LIST      LIST: lines "PHOTO MASK" (the mask's opaque part is the truth)
//   bench_subject_masks --one PHOTO
#include "SaliencySubjectMasker.h"

#include "engines/vision/ModelSubjectMasker.h"
#include "engines/vision/VisionEngine.h"
#include "model/errors/EngineError.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QStringList>

#include <sys/resource.h>

#include <cstdio>
#include <random>

using namespace qv;

namespace {

// Intersection over union of the opaque parts (at least 128) of a mask (Alpha8) and the true
// mask (a grey picture: white is the subject).
double iou(const QImage& mask, const QImage& truth)
{
    const QImage a = mask.convertToFormat(QImage::Format_Alpha8);
    const QImage b = truth.convertToFormat(QImage::Format_Grayscale8);
    qint64 both = 0, either = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* p = a.constScanLine(y);
        const uchar* q = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x) {
            both += p[x] >= 128 && q[x] >= 128;
            either += p[x] >= 128 || q[x] >= 128;
        }
    }
    return either ? double(both) / double(either) : 0;
}

double maskIou(const QImage& photo, const QImage& truth, const SubjectMasker& masker)
{
    try {
        return iou(VisionEngine::subjectMask(photo, {}, masker), truth);
    } catch (const EngineError&) {
        return 0;
    }
}

const char* held(bool ok)
{
    return ok ? "held" : "missed";
}

int one(const QString& path)
{
    const QImage photo(path);
    if (photo.isNull())
        return 1;
    VisionEngine::shareCores(1);
    QElapsedTimer timer;
    timer.start();
    const QImage lifted = VisionEngine::liftSubject(photo, {});
    const double ms = timer.nsecsElapsed() / 1e6;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double mb = usage.ru_maxrss / 1024.0;
    std::printf("| remove the background of a %.0f MP photo | %.0f ms | - | - | ≤ 4000 ms | %s |\n",
                photo.width() * double(photo.height()) / 1e6, ms, held(ms <= 4000));
    std::printf("| peak memory, background of a %.0f MP photo | %.0f MB | - | - | ≤ 1536 MB | %s |\n",
                photo.width() * double(photo.height()) / 1e6, mb, held(mb <= 1536));
    return lifted.isNull() ? 1 : 0;
}

// Whether the model refuses a picture without a subject.
bool noSubject(const QImage& picture)
{
    try {
        VisionEngine::liftSubject(picture, {});
        return false;
    } catch (const EngineError& error) {
        return error.message() == QStringLiteral("No subject found in this image");
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QStringLiteral("--one"))
        return one(args[1]);
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: bench_subject_masks LIST | --one PHOTO\n");
        return 2;
    }
    if (!ModelSubjectMasker::modelPath()) {
        std::fprintf(stderr, "the subject model is not installed (scripts/fetch-subject-model.sh)\n");
        return 1;
    }
    QFile list(args[0]);
    if (!list.open(QIODevice::ReadOnly))
        return 1;
    VisionEngine::shareCores(1);
    const ModelSubjectMasker model;
    const SaliencySubjectMasker heuristic;
    double modelSum = 0, heuristicSum = 0, modelWorst = 1;
    int count = 0;
    while (!list.atEnd()) {
        const QStringList pair = QString::fromUtf8(list.readLine()).trimmed().split(QLatin1Char(' '));
        if (pair.size() != 2)
            continue;
        const QImage photo(pair[0]);
        const QImage truth(pair[1]);
        if (photo.isNull() || truth.size() != photo.size())
            return 1;
        const double a = maskIou(photo, truth, model);
        const double b = maskIou(photo, truth, heuristic);
        std::fprintf(stderr, "%s: model %.3f, heuristic %.3f\n", qPrintable(pair[0]), a, b);
        modelSum += a;
        heuristicSum += b;
        modelWorst = std::min(modelWorst, a);
        ++count;
    }
    if (!count)
        return 1;
    const double mean = modelSum / count;
    std::printf("| subject masks: mean IoU over %d photos with known masks | %.3f (lowest %.3f) | saliency heuristic %.3f | - | ≥ 0.90 | %s |\n",
                count, mean, modelWorst, heuristicSum / count, held(mean >= 0.9));

    QImage gradient(1200, 900, QImage::Format_RGB32), noise(1200, 900, QImage::Format_RGB32);
    std::mt19937 random(7);
    for (int y = 0; y < 900; ++y) {
        for (int x = 0; x < 1200; ++x) {
            gradient.setPixel(x, y, qRgb(x * 255 / 1199, y * 255 / 899, 160));
            noise.setPixel(x, y, qRgb(int(random() % 256), int(random() % 256), int(random() % 256)));
        }
    }
    for (const auto& [name, picture] : {std::pair{"a plain gradient", gradient}, std::pair{"noise", noise}}) {
        const bool refused = noSubject(picture);
        std::printf("| %s: \"No subject found in this image\" | %s | - | - | refused | %s |\n", name,
                    refused ? "refused" : "a subject", held(refused));
    }
    return 0;
}
