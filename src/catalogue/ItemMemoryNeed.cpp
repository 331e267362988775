#include "catalogue/ItemMemoryNeed.h"

#include "catalogue/IsolatedReading.h"
#include "model/FileInfo.h"

#include <algorithm>

namespace qv {

qint64 pictureMemoryNeed(qint64 width, qint64 height, int bands)
{
    // Measured for a 24-megapixel JPEG to WebP in a worker (the heaviest common case, 430 MB):
    // the decoded picture, the encoder's copy of it and its output, about six times the pixels.
    constexpr qint64 copies = 6;
    return std::max<qint64>(width, 0) * std::max<qint64>(height, 0) * std::max(bands, 1) * copies;
}

qint64 itemMemoryNeed(const JobCenter::WorkItem& item, std::stop_token stop)
{
    qint64 need = 0;
    for (const FileInfo& file : item.files) {
        if (stop.stop_requested())
            return 0;
        if (file.category != FileCategory::image || file.isDirectory)
            continue;
        const std::optional<IsolatedReading::Header> header = IsolatedReading::header(file.path());
        if (!header)
            continue;
        need = std::max(need, pictureMemoryNeed(header->size.width(), header->size.height(), header->alpha ? 4 : 3));
    }
    return need;
}

} // namespace qv
