#include "wheel/ui/FilePictures.h"

#include "catalogue/IsolatedReading.h"

#include "platform/ThreadCall.h"

#include <QIcon>
#include <QMimeDatabase>

namespace qv {

std::optional<QImage> fileIcon(const FileInfo& file, int side)
{
    const QMimeDatabase database;
    QMimeType type;
    if (file.isPromise)
        type = database.mimeTypeForName(file.contentType.value_or(QStringLiteral("application/octet-stream")));
    else if (file.isDirectory)
        type = database.mimeTypeForName(QStringLiteral("inode/directory"));
    else
        type = database.mimeTypeForFile(file.path(), QMimeDatabase::MatchExtension);
    if (!type.isValid())
        type = database.mimeTypeForName(QStringLiteral("application/octet-stream"));
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        return std::nullopt;
    const QImage image = icon.pixmap(side, side).toImage();
    if (image.isNull())
        return std::nullopt;
    return image;
}

void loadThumbnail(const FileInfo& file, int side, std::stop_token stop, std::function<void(QImage)> done)
{
    if (file.isPromise || file.isDirectory || file.category != FileCategory::image || side <= 0)
        return;
    const QString path = file.path();
    runInBackground([path, side, stop, done = std::move(done)] {
        if (const std::optional<QImage> image = IsolatedReading::picture(path, QSize(side, side), false, true, stop))
            done(*image);
    });
}

} // namespace qv
