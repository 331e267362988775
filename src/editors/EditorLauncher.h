#pragma once

#include "jobs/JobCenterServices.h"
#include "model/operations/OperationBehavior.h"
#include "model/operations/OperationOptions.h"
#include "model/wheel/WheelEntry.h"

#include <QPointF>

#include <functional>

namespace qv {

// What an editor calls with its choices: submits a one-file job for the entry.
using EditorApplyAction = std::function<void(const OperationOptions&)>;

// Submits the entry for that one file with the editor's options, the point as the job's origin.
void submitEditedFile(const OperationOptions& options, const WheelEntry& entry,
                      const FileInfo& file, QPointF point);

// Told of every job an editor submits, with the options it was given (for the development
// driver); empty by default.
using EditorSubmissionObserver = std::function<void(const OperationOptions&, const JobPtr&)>;
void setEditorSubmissionObserver(EditorSubmissionObserver observer);

// An apply action that owns copies of what it submits.
EditorApplyAction editorApplyAction(const WheelEntry& entry, const FileInfo& file, QPointF point);

// Opens the editor of that kind for the first file, next to the point; nothing for no files.
// Editors not built yet are logged and skipped.
void openEditor(EditorKind kind, const WheelEntry& entry, const QList<FileInfo>& files,
                QPointF point);

} // namespace qv
