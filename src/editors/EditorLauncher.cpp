#include "editors/EditorLauncher.h"

#include "editors/AnnotateEditor.h"
#include "editors/CropEditor.h"
#include "editors/PagesEditor.h"
#include "editors/PhotoEditor.h"
#include "editors/RedactEditor.h"
#include "editors/TrimEditor.h"
#include "jobs/JobCenter.h"
#include "model/Log.h"

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
    if (kind == EditorKind::trim || kind == EditorKind::split) {
        const bool ringtone = !entry.operations.isEmpty()
                              && entry.operations.first().id == QLatin1String("tool.audio.ringtone");
        const TrimEditor::Mode mode = kind == EditorKind::split ? TrimEditor::Mode::split
                                      : ringtone                ? TrimEditor::Mode::ringtone
                                                                : TrimEditor::Mode::trim;
        TrimEditor::open(file, mode, point, editorApplyAction(entry, file, point));
        return;
    }
    if (kind == EditorKind::crop) {
        CropEditor::open(file, point, editorApplyAction(entry, file, point));
        return;
    }
    if (kind == EditorKind::pdfReorder || kind == EditorKind::pdfExtract) {
        PagesEditor::open(file, kind == EditorKind::pdfExtract, point, editorApplyAction(entry, file, point));
        return;
    }
    if (kind == EditorKind::photo) {
        PhotoEditor::open(file, point, editorApplyAction(entry, file, point));
        return;
    }
    if (kind == EditorKind::annotate) {
        AnnotateEditor::open(file, point, editorApplyAction(entry, file, point));
        return;
    }
    if (kind == EditorKind::redact) {
        RedactEditor::open(file, point, editorApplyAction(entry, file, point));
        return;
    }
    // The editors themselves arrive one by one; until then the choice opens nothing.
    qCInfo(appLog).noquote() << "No" << toString(kind) << "editor yet for" << files.first().name;
}

} // namespace qv
