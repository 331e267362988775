#include "editors/EditorLauncher.h"

#include "jobs/JobCenter.h"
#include "model/Log.h"

namespace qv {

void submitEditedFile(const OperationOptions& options, const WheelEntry& entry,
                      const FileInfo& file, QPointF point)
{
    JobCenter::shared().submit(entry, {file}, options, point);
}

EditorApplyAction editorApplyAction(const WheelEntry& entry, const FileInfo& file, QPointF point)
{
    return [entry, file, point](const OperationOptions& options) {
        submitEditedFile(options, entry, file, point);
    };
}

void openEditor(EditorKind kind, const WheelEntry& /*entry*/, const QList<FileInfo>& files,
                QPointF /*point*/)
{
    if (files.isEmpty())
        return;
    // The editors themselves arrive one by one; until then the choice opens nothing.
    qCInfo(appLog).noquote() << "No" << toString(kind) << "editor yet for" << files.first().name;
}

} // namespace qv
