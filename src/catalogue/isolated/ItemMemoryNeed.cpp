#include "catalogue/isolated/ItemMemoryNeed.h"

#include "catalogue/isolated/IsolatedReading.h"
#include "engines/image/foreign/WebPWriter.h"
#include "model/files/FileInfo.h"
#include "model/settings/SettingsSnapshot.h"

#include <algorithm>

namespace qv {

namespace {

// WebP is written by our own strip writer, whose need follows the content; the conversion to
// WebP may choose libwebp's low-memory mode, as the engine will for the same figures.
bool writesWebP(const JobCenter::WorkItem& item, const FileInfo& file)
{
    const std::optional<QString>& extension = item.descriptor.outputExtension;
    return extension ? *extension == QLatin1String("webp") : file.ext == QLatin1String("webp");
}

bool convertsToWebP(const JobCenter::WorkItem& item)
{
    return item.descriptor.id == QLatin1String("convert.image.webp");
}

} // namespace

qint64 pictureMemoryNeed(qint64 width, qint64 height, int bands)
{
    // The decoded picture, a saver's copy of it and its output, about six times the pixels.
    constexpr qint64 copies = 6;
    return std::max<qint64>(width, 0) * std::max<qint64>(height, 0) * std::max(bands, 1) * copies;
}

qint64 webpMemoryNeed(qint64 width, qint64 height, bool alpha, const QString& path, bool mayChooseLowMemory,
                      const SettingsSnapshot& settings)
{
    const qint64 sourceBytes = WebPWriter::sourceBytes(path);
    const bool lowMemory = mayChooseLowMemory
        && WebPWriter::lowMemoryPays(width, height, alpha, sourceBytes, settings.batchMemoryBytes, settings.cpuJobs);
    return WebPWriter::memoryNeed(width, height, alpha, sourceBytes, lowMemory);
}

qint64 itemMemoryNeed(const JobCenter::WorkItem& item, std::stop_token stop)
{
    qint64 need = 0;
    std::optional<SettingsSnapshot> settings;
    for (const FileInfo& file : item.files) {
        if (stop.stop_requested())
            return 0;
        if (file.category != FileCategory::image || file.isDirectory)
            continue;
        const std::optional<IsolatedReading::Header> header = IsolatedReading::header(file.path(), false, stop);
        if (!header)
            continue;
        const qint64 width = header->size.width();
        const qint64 height = header->size.height();
        if (writesWebP(item, file) && header->frames <= 1) {
            if (!settings)
                settings = SettingsSnapshot::load();
            need = std::max(need, webpMemoryNeed(width, height, header->alpha, file.path(), convertsToWebP(item),
                                                 *settings));
        } else {
            need = std::max(need, pictureMemoryNeed(width, height, header->alpha ? 4 : 3));
        }
    }
    return need;
}

} // namespace qv
