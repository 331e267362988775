#include "app/actions/DispatcherUi.h"

#include "editors/EditorLauncher.h"
#include "jobs/OperationDispatcher.h"
#include "jobs/ui/OptionsSheet.h"

namespace qv {

void installDispatcherUi()
{
    OperationDispatcher::Hooks& hooks = OperationDispatcher::shared().hooks();
    hooks.openEditor = [](EditorKind kind, const WheelEntry& entry, const QList<FileInfo>& files,
                          QPointF point) { openEditor(kind, entry, files, point); };
    hooks.presentSheet = [](const OperationDescriptor& descriptor, const OperationOptions& options,
                            bool canRemember, const QList<FileInfo>& files, QPointF point,
                            OperationDispatcher::ApplyAction apply) {
        // Closing the sheet any other way than Apply runs nothing.
        showOptionsSheet(descriptor, files, options, canRemember, point, std::move(apply), {});
    };
}

} // namespace qv
