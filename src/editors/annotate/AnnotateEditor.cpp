#include "editors/annotate/AnnotateEditor.h"

#include "editors/annotate/AnnotateModel.h"
#include "editors/annotate/AnnotateView.h"
#include "editors/EditorOpening.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"

#include <QPointer>

#include <memory>

namespace qv {

AnnotateEditor::Picture AnnotateEditor::load(const FileInfo& file)
{
    return EditorPicture::load(file.path(), displaySide);
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
                picture.preview, model, [window] { finishEditor(*window); },
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
