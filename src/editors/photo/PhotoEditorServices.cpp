#include "editors/photo/PhotoEditorServices.h"

#include "engines/image/conversion/ImageEdits.h"

#include <QPointer>
#include <QTimer>
#include <QTransform>

namespace qv {

void PhotoEditorServices::after(int ms, QObject* context, std::function<void()> function)
{
    QTimer::singleShot(ms, context, std::move(function));
}

QImage PhotoEditorServices::transformed(const QImage& image, int quarterTurns, bool flipHorizontal,
                                        bool flipVertical)
{
    QImage result = image;
    if (quarterTurns % 4 != 0)
        result = result.transformed(QTransform().rotate(90.0 * (quarterTurns % 4)));
    if (flipHorizontal || flipVertical)
        result = result.mirrored(flipHorizontal, flipVertical);
    return result;
}

bool PhotoEditorServices::isLosslessEdit(const OperationOptions& recipe, const FileInfo& file)
{
    return ImageEdits::isLosslessEdit(recipe, file);
}

} // namespace qv
