// Pages to images: pages are drawn on a few threads at once, each with its own MuPDF context
// cloned from the document's, each holding one page at a time.

#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PdfPagePictures.h"

#include "engines/pdf/PageImageWriter.h"
#include "engines/pdf/PagePixelBudget.h"
#include "engines/pdf/PDFRenderer.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/JobNotes.h"

#include <QDir>
#include <QScopeGuard>
#include <QThread>

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qv {

QUrl PDFEngine::pagesToImages(const QString& path, const std::optional<QString>& baseName,
                              ImageOutput output, const std::optional<QString>& password,
                              double dpi, const SettingsSnapshot& settings, const PDFWork& work)
{
    const PDFDocument document = open(path, password);
    // MuPDF draws a damaged JPEG without a warning it passes on.
    PdfPagePictures::checkJpegs(document, std::nullopt, work.stop);
    PDFRenderer& first = document.renderer();
    const int count = first.pageCount();
    if (count < 1)
        throw EngineError(QStringLiteral("This PDF has no pages"));
    const QString base = baseName.value_or(work.baseName);
    const QString extension = toString(output);
    std::optional<double> quality;
    if (isLossy(output))
        quality = output == ImageOutput::heic ? settings.heicQuality : settings.jpegQuality;

    QUrl target;
    std::function<QString(int)> pagePath;
    if (count == 1) {
        target = work.workFile(extension);
        pagePath = [&target](int) { return target.toLocalFile(); };
    } else {
        target = work.workFolder(QStringLiteral("pages"));
        const QDir folder(target.toLocalFile());
        pagePath = [folder, base, extension](int index) {
            return folder.filePath(base + QLatin1Char(' ') + QString::number(index + 1)
                                   + QLatin1Char('.') + extension);
        };
    }

    // Stops the other workers at the first failure, and all of them when the job stops.
    std::stop_source stopAll;
    std::stop_callback forward(work.stop, [&stopAll] { stopAll.request_stop(); });
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    std::atomic<bool> standIns{false};
    // A picture, MuPDF's drawing of it and its encoding take some ten bytes a pixel: pages as
    // large as may be drawn take turns, within the worker's memory.
    PagePixelBudget budget(PDFRenderer::maximumPixels);

    const auto draw = [&](PDFRenderer& renderer) {
        try {
            for (int index = next++; index < count && !stopAll.stop_requested(); index = next++) {
                const QSize size = renderer.pixelsAt(index, dpi);
                const qint64 pixels = qint64(size.width()) * size.height();
                if (!budget.take(pixels, stopAll.get_token()))
                    break;
                const auto giveBack = qScopeGuard([&] { budget.give(pixels); });
                const QImage image = renderer.render(index, dpi, stopAll.get_token());
                writePageImage(image, pagePath(index), output, dpi, quality, stopAll.get_token());
                work.report(double(++done) / double(count));
            }
            if (renderer.drewStandIns())
                standIns = true;
        } catch (...) {
            std::lock_guard locker(failureLock);
            if (!failure)
                failure = std::current_exception();
            stopAll.request_stop();
        }
    };

    const int workers = std::clamp(QThread::idealThreadCount(), 1, std::min(4, count));
    first.runOnClones(workers, draw);
    throwIfCancelled(work.stop);
    if (failure) {
        // A worker stopped by another's failure reports that failure, not a cancellation.
        std::rethrow_exception(failure);
    }
    if (standIns && work.notes)
        work.notes->addMessage(PDFRenderer::standInsNote());
    return count == 1 ? work.place(target, base, extension)
                      : work.place(target, base + QStringLiteral(" (pages)"), QString());
}

} // namespace qv
