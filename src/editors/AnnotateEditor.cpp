#include "editors/AnnotateEditor.h"

#include "editors/AnnotateModel.h"
#include "editors/AnnotateView.h"
#include "editors/EditorOpening.h"
#include "engines/image/ImageHeader.h"
#include "engines/image/ImageThumbnail.h"
#include "model/EngineError.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"

#include <QPointer>

#include <memory>

namespace qv {

AnnotateEditor::Picture AnnotateEditor::load(const FileInfo& file)
{
    const std::optional<QSize> size = imagePixelSize(file.path());
    if (!size || size->isEmpty())
        throw EngineError(QStringLiteral("Not an image"));
    const std::optional<QImage> image = imageThumbnail(file.path(), QSize(displaySide, displaySide), true);
    if (!image || image->isNull())
        throw EngineError(QStringLiteral("Not an image"));
    return {*image, *size};
}

void AnnotateEditor::open(const FileInfo& file, QPointF point, Completion completion)
{
    openWhenLoaded<Picture>(
        file, [file] { return load(file); }, QStringLiteral("Couldn't open %1").arg(file.name),
        [file, point, completion = std::move(completion)](Picture& picture) {
            auto* model = new AnnotateModel(QSizeF(picture.pixelSize));
            auto window = std::make_shared<QPointer<EditorWindow>>();
            QPointer<AnnotateModel> weakModel(model);
            auto* view = new AnnotateView(
                picture.image, model, [window] { finishEditor(*window); },
                [window, weakModel, completion] {
                    if (!weakModel || !weakModel->canSave())
                        return;
                    const OperationOptions options = weakModel->saveCopyOptions();
                    finishEditor(*window);
                    if (completion)
                        completion(options);
                });
            model->setParent(view);
            *window = presentInEditorWindow(QStringLiteral("Annotate ") + file.name, false, {}, view, point);
        });
}

} // namespace qv
