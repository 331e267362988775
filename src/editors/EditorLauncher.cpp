#include "editors/EditorLauncher.h"

#include "editors/annotate/AnnotateEditor.h"
#include "editors/crop/CropEditor.h"
#include "editors/pages/PagesEditor.h"
#include "editors/photo/PhotoEditor.h"
#include "editors/redact/RedactEditor.h"
#include "editors/media/TrimEditor.h"
#include "jobs/JobCenter.h"

namespace qv {

namespace {

EditorSubmissionObserver& submissionObserver()
{
    static EditorSubmissionObserver observer;
    return observer;
}

} // namespace

void setEditorSubmissionObserver(EditorSubmissionObserver observer)
{
    submissionObserver() = std::move(observer);
}

void submitEditedFile(const OperationOptions& options, const WheelEntry& entry,
                      const FileInfo& file, QPointF point)
{
    const JobPtr job = JobCenter::shared().submit(entry, {file}, options, point);
    if (submissionObserver())
        submissionObserver()(options, job);
}

EditorApplyAction editorApplyAction(const WheelEntry& entry, const FileInfo& file, QPointF point)
{
    return [entry, file, point](const OperationOptions& options) {
        submitEditedFile(options, entry, file, point);
    };
}

void openEditor(EditorKind kind, const WheelEntry& entry, const QList<FileInfo>& files,
                QPointF point)
{
    if (files.isEmpty())
        return;
    const FileInfo& file = files.first();
    const EditorApplyAction apply = editorApplyAction(entry, file, point);
    switch (kind) {
    case EditorKind::trim:
    case EditorKind::split: {
        const bool ringtone = !entry.operations.isEmpty()
                              && entry.operations.first().id == QLatin1String("tool.audio.ringtone");
        const TrimEditor::Mode mode = kind == EditorKind::split ? TrimEditor::Mode::split
                                      : ringtone                ? TrimEditor::Mode::ringtone
                                                                : TrimEditor::Mode::trim;
        TrimEditor::open(file, mode, point, apply);
        return;
    }
    case EditorKind::crop:
        CropEditor::open(file, point, apply);
        return;
    case EditorKind::pdfReorder:
    case EditorKind::pdfExtract:
        PagesEditor::open(file, kind == EditorKind::pdfExtract, point, apply);
        return;
    case EditorKind::photo:
        PhotoEditor::open(file, point, apply);
        return;
    case EditorKind::annotate:
        AnnotateEditor::open(file, point, apply);
        return;
    case EditorKind::redact:
        RedactEditor::open(file, point, apply);
        return;
    }
}

} // namespace qv
