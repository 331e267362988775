#include "engines/pdf/PdfPagePictures.h"

#include "engines/image/foreign/JpegStructure.h"
#include "engines/pdf/PdfCheckedPictures.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <exception>
#include <set>
#include <thread>
#include <vector>

namespace qv {

namespace {

// A picture whose only filter is DCTDecode: its stream is the JPEG file. One behind another
// filter is left to the readers.
bool isBareJpeg(QPDFObjectHandle image)
{
    QPDFObjectHandle filter = image.getDict().getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1)
        filter = filter.getArrayItem(0);
    return filter.isNameAndEquals("/DCTDecode");
}

// What is read ahead of the parsing threads.
constexpr size_t readAheadBytes = size_t(64) << 20;

} // namespace

void PdfPagePictures::checkJpegs(const PDFDocument& document, const std::optional<QList<int>>& pages,
                                 std::stop_token stop, PdfCheckedPictures* checked,
                                 const std::function<void()>& meanwhile)
{
    document.keepFileOpen(true);
    struct Closer {
        const PDFDocument& document;
        ~Closer() { document.keepFileOpen(false); }
    } closer{document};
    // qpdf reads one stream at a time; the parsing, most of the cost on a scanned book, runs on
    // a few threads over pictures read ahead, a bounded amount at a time.
    struct Picture {
        int page = 0;
        std::shared_ptr<Buffer> data;
        QString fault;
    };
    std::vector<Picture> batch;
    size_t batchBytes = 0;
    std::exception_ptr meanwhileError;
    const auto parseBatch = [&](const std::function<void()>& alongside) {
        std::atomic<size_t> next{0};
        const auto parse = [&] {
            for (size_t k = next++; k < batch.size() && !stop.stop_requested(); k = next++) {
                const QByteArrayView bytes(reinterpret_cast<const char*>(batch[k].data->getBuffer()),
                                           qsizetype(batch[k].data->getSize()));
                QByteArray digest;
                if (checked) {
                    digest = PdfCheckedPictures::digestOf(bytes);
                    if (checked->contains(digest))
                        continue;
                }
                batch[k].fault = JpegStructure::faultOfBytes(bytes);
                if (checked && batch[k].fault.isEmpty())
                    checked->add(digest);
            }
        };
        {
            // This thread is busy with the other work, if any: one more helper parses instead.
            const int helpers = std::clamp(QThread::idealThreadCount(), 1, 4) - (alongside ? 0 : 1);
            std::vector<std::jthread> threads;
            for (int i = 0; i < std::min<int>(helpers, int(batch.size()) - (alongside ? 0 : 1)); ++i)
                threads.emplace_back(parse);
            if (alongside) {
                try {
                    alongside();
                } catch (...) {
                    meanwhileError = std::current_exception();
                }
            }
            parse();
        }
        throwIfCancelled(stop);
        for (const Picture& picture : batch) {
            if (!picture.fault.isEmpty())
                throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                                  QStringLiteral("A JPEG picture on page %1: %2").arg(picture.page + 1).arg(picture.fault));
        }
        batch.clear();
        batchBytes = 0;
    };
    guardedRead([&] {
        std::vector<QPDFPageObjectHelper> all = QPDFPageDocumentHelper(document.qpdf()).getAllPages();
        QList<int> chosen;
        if (pages) {
            chosen = *pages;
        } else {
            for (int index = 0; index < int(all.size()); ++index)
                chosen.append(index);
        }
        std::set<QPDFObjGen> seen;
        for (int index : chosen) {
            if (index < 0 || index >= int(all.size()))
                continue;
            throwIfCancelled(stop);
            all[size_t(index)].forEachImage(true, [&](QPDFObjectHandle& image, QPDFObjectHandle&,
                                                      const std::string&) {
                if (!image.isStream() || (image.isIndirect() && !seen.insert(image.getObjGen()).second)
                    || !isBareJpeg(image))
                    return;
                std::shared_ptr<Buffer> data = image.getRawStreamData();
                batchBytes += data->getSize();
                batch.push_back({index, std::move(data), {}});
            });
            if (batchBytes >= readAheadBytes)
                parseBatch({});
        }
    });
    parseBatch(meanwhile);
    if (meanwhileError)
        std::rethrow_exception(meanwhileError);
}

} // namespace qv
