#include "engines/vision/module/TesseractTextRecognizer.h"

#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QFile>

#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace qv {

namespace {

const QString kLanguage = QStringLiteral("eng");

std::atomic<int> made = 0;

// The recogniser's own working state between two pictures; made once per thread.
struct ThreadRecognizer {
    std::unique_ptr<tesseract::TessBaseAPI> api;
    QString folder;
};

tesseract::TessBaseAPI& threadAPI(const QString& folder)
{
    thread_local ThreadRecognizer recognizer;
    if (recognizer.api && recognizer.folder == folder)
        return *recognizer.api;

    // Tesseract's parallel loops would otherwise start a team of helpers for every worker
    // that recognises, so several pages at once would fight over the cores. Its loops name
    // their team size, which overrides omp_set_num_threads; no active level holds for them
    // all, and libgomp keeps the setting per thread.
    omp_set_max_active_levels(0);

    // Tesseract's parameters are partly process-wide: recognisers are made one at a time, and
    // its chatter on standard error is silenced before the first one reads anything.
    static std::mutex creation;
    static bool quiet = false;
    const std::lock_guard locker(creation);
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    if (!quiet) {
        api->SetVariable("debug_file", "/dev/null");
        quiet = true;
    }
    if (api->Init(QFile::encodeName(folder).constData(), kLanguage.toLatin1().constData(),
                  tesseract::OEM_DEFAULT) != 0) {
        throw EngineError(QStringLiteral("Text recognition isn't available"),
                          QStringLiteral("Tesseract could not load the %1 data in %2").arg(kLanguage, folder));
    }
    recognizer.api = std::move(api);
    recognizer.folder = folder;
    ++made;
    return *recognizer.api;
}

struct Monitor : tesseract::ETEXT_DESC {
    const std::stop_token* stop = nullptr;
    const std::function<void(double)>* report = nullptr;
};

bool cancelRequested(void* data, int)
{
    return static_cast<Monitor*>(data)->stop->stop_requested();
}

bool progressed(tesseract::ETEXT_DESC* description, int, int, int, int)
{
    auto* monitor = static_cast<Monitor*>(description);
    if (*monitor->report)
        (*monitor->report)(monitor->progress / 100.0);
    return true;
}

// Leaves the recogniser ready for the next picture, with its language still loaded.
struct ClearOnExit {
    tesseract::TessBaseAPI& api;
    ~ClearOnExit() { api.Clear(); }
};

} // namespace

int TesseractTextRecognizer::recognizersMade()
{
    return made.load();
}

RecognizedLines TesseractTextRecognizer::recognize(const QImage& grey, double dpi, const QString& folder,
                                                   const std::stop_token& stop,
                                                   const std::function<void(double)>& progress)
{
    Q_ASSERT(grey.format() == QImage::Format_Grayscale8);
    throwIfCancelled(stop);
    tesseract::TessBaseAPI& api = threadAPI(folder);
    throwIfCancelled(stop);

    const ClearOnExit clear{api};
    api.SetPageSegMode(tesseract::PSM_AUTO);
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    if (dpi >= 70 && dpi <= 2400)
        api.SetSourceResolution(int(dpi + 0.5));

    Monitor monitor;
    monitor.stop = &stop;
    monitor.report = &progress;
    monitor.cancel = cancelRequested;
    monitor.cancel_this = &monitor;
    monitor.progress_callback2 = progressed;
    const int status = api.Recognize(&monitor);
    throwIfCancelled(stop);
    if (status != 0)
        throw EngineError(QStringLiteral("Couldn't read the text in this image"),
                          QStringLiteral("Tesseract's recognition failed"));

    RecognizedLines lines;
    const double width = grey.width();
    const double height = grey.height();
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return lines;
    constexpr auto level = tesseract::RIL_TEXTLINE;
    do {
        if (it->Empty(level))
            continue;
        const std::unique_ptr<char[]> utf8(it->GetUTF8Text(level));
        const QString text = utf8 ? QString::fromUtf8(utf8.get()).trimmed() : QString();
        int left = 0, top = 0, right = 0, bottom = 0;
        if (text.isEmpty() || !it->BoundingBox(level, &left, &top, &right, &bottom))
            continue;
        lines.append({text, QRectF(left / width, 1.0 - bottom / height,
                                   (right - left) / width, (bottom - top) / height)});
    } while (it->Next(level));
    return lines;
}

} // namespace qv
