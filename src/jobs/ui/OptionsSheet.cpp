#include "jobs/ui/OptionsSheet.h"

#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"
#include "jobs/OptionsActions.h"
#include "jobs/ui/OptionsForm.h"

namespace qv {

EditorWindow* showOptionsSheet(const OperationDescriptor& descriptor, const QList<FileInfo>& files,
                               const OperationOptions& initialOptions, bool offerRemember,
                               QPointF point,
                               std::function<void(const OperationOptions&)> onApply,
                               std::function<void()> onCancel)
{
    return showOptionsSheet(descriptor, files, initialOptions, offerRemember, point,
                            std::move(onApply), std::move(onCancel), ScreenProvider::system());
}

EditorWindow* showOptionsSheet(const OperationDescriptor& descriptor, const QList<FileInfo>& files,
                               const OperationOptions& initialOptions, bool offerRemember,
                               QPointF point,
                               std::function<void(const OperationOptions&)> onApply,
                               std::function<void()> onCancel, const ScreenProvider& screens)
{
    auto* model = new OptionsModel(initialOptions, files, makeDefaultQuality(descriptor, files));
    auto window = std::make_shared<QPointer<EditorWindow>>();

    auto cancel = [window, onCancel] {
        // Closing runs onCancel, once, like every other close without Apply.
        if (*window)
            (*window)->close();
    };
    auto apply = [window, model, descriptor, onApply] {
        applyOptionsSheet(*model, descriptor, [window] { finishEditor(*window); }, onApply);
    };
    auto* form = new OptionsForm(descriptor.verb, optionsSheetSubtitle(files),
                                 descriptor.optionFields, model, offerRemember, cancel, apply);
    model->setParent(form);

    EditorWindow* shown = presentInEditorWindow(optionsSheetWindowTitle(descriptor.title), false,
                                                std::move(onCancel), form, point, screens);
    *window = shown;
    return shown;
}

} // namespace qv
