#include "engines/image/VipsRuntime.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <vips/vips.h>

#include <algorithm>

namespace qv {

bool ensureVips()
{
    static const bool started = [] {
        if (VIPS_INIT("quorvenda") != 0)
            return false;
        // Files change on disk between jobs: never answer from a cached load.
        vips_cache_set_max(0);
        // A picture's text and pictures never come from another file.
        vips_operation_block_set("VipsForeignLoadSvgFile", TRUE);
        return true;
    }();
    return started;
}

bool isSvgName(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("svg") || suffix == QLatin1String("svgz");
}

VipsSource* svgSource(const QString& path)
{
    if (!ensureVips())
        return nullptr;
    // Far above any drawing; an SVG this large is a decompression bomb or no SVG.
    constexpr qint64 largest = qint64(256) << 20;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > largest) {
        vips_error("svgSource", "%s", "cannot read the picture");
        return nullptr;
    }
    const QByteArray bytes = file.read(largest + 1);
    if (bytes.isEmpty() || bytes.size() > largest) {
        vips_error("svgSource", "%s", "cannot read the picture");
        return nullptr;
    }
    VipsBlob* blob = vips_blob_copy(bytes.constData(), std::size_t(bytes.size()));
    VipsSource* source = vips_source_new_from_blob(blob);
    vips_area_unref(VIPS_AREA(blob));
    return source;
}

void setVipsLanes(int cpuLaneLimit)
{
    if (!ensureVips())
        return;
    vips_concurrency_set(std::max(1, QThread::idealThreadCount() / std::max(1, cpuLaneLimit)));
}

} // namespace qv
