#include "editors/EditorPicture.h"

#include "engines/image/ImageHeader.h"
#include "engines/image/ImageThumbnail.h"
#include "model/EngineError.h"

namespace qv {

EditorPicture EditorPicture::load(const QString& path, int side)
{
    const std::optional<QSize> size = imagePixelSize(path);
    if (!size || size->isEmpty())
        throw EngineError(QStringLiteral("Not an image"));
    const std::optional<QImage> preview = imageThumbnail(path, QSize(side, side), true);
    if (!preview || preview->isNull())
        throw EngineError(QStringLiteral("Not an image"));
    return {*preview, *size, imageHasAlpha(path).value_or(preview->hasAlphaChannel())};
}

} // namespace qv
