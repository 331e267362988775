#include "editors/EditorPicture.h"

#include "catalogue/isolated/IsolatedReading.h"
#include "model/errors/EngineError.h"

namespace qv {

EditorPicture EditorPicture::load(const QString& path, int side)
{
    const std::optional<IsolatedReading::Header> header = IsolatedReading::header(path);
    if (!header || header->size.isEmpty())
        throw EngineError(QStringLiteral("Not an image"));
    const std::optional<QImage> preview = IsolatedReading::picture(path, QSize(side, side), true);
    if (!preview || preview->isNull())
        throw EngineError(QStringLiteral("Not an image"));
    return {*preview, header->size, header->alpha};
}

} // namespace qv
