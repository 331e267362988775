#include "editors/photo/PhotoEditor.h"

#include "editors/EditorOpening.h"
#include "editors/EditorPicture.h"
#include "editors/photo/EnginePhotoEditorServices.h"
#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoEditorView.h"
#include "engines/image/ImageEngine.h"
#include "model/settings/SettingsSnapshot.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"

#include <QPointer>

#include <memory>

namespace qv {

PhotoEditor::Picture PhotoEditor::load(const FileInfo& file)
{
    const EditorPicture shown = EditorPicture::load(file.path(), previewSide);
    return {shown.preview, shown.pixelSize, shown.hasAlpha, ImageEngine::estimatedJPEGQuality(file)};
}

void PhotoEditor::open(const FileInfo& file, QPointF point, Completion completion)
{
    openWhenLoaded<Picture>(
        file, [file] { return load(file); }, QStringLiteral("Couldn't open %1").arg(file.name),
        [file, point, completion = std::move(completion)](Picture& picture) {
            auto* model = new PhotoEditorModel(file, picture.preview, picture.pixelSize, picture.hasAlpha,
                                               SettingsSnapshot::load(), picture.quality,
                                               std::make_shared<EnginePhotoEditorServices>());
            auto window = std::make_shared<QPointer<EditorWindow>>();
            auto* view = new PhotoEditorView(
                model, [window] { finishEditor(*window); },
                [window, model, completion] {
                    const OperationOptions options = model->recipe();
                    finishEditor(*window);
                    if (completion)
                        completion(options);
                });
            model->setParent(view);
            *window = presentInEditorWindow(QStringLiteral("Edit ") + file.name, false, {}, view, point);
        });
}

} // namespace qv
