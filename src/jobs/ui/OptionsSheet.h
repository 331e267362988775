#pragma once

#include "model/operations/OperationDescriptor.h"
#include "model/operations/OperationOptions.h"

#include <QPointF>

#include <functional>

namespace qv {

class EditorWindow;
class ScreenProvider;

// Shows the options sheet of an operation in its own window below the point. Apply remembers
// the options when the user asked to (only offered when `offerRemember`), closes the sheet and
// hands the options on; any other way of closing it runs `onCancel` once.
EditorWindow* showOptionsSheet(const OperationDescriptor& descriptor, const QList<FileInfo>& files,
                               const OperationOptions& initialOptions, bool offerRemember,
                               QPointF point,
                               std::function<void(const OperationOptions&)> onApply,
                               std::function<void()> onCancel);
EditorWindow* showOptionsSheet(const OperationDescriptor& descriptor, const QList<FileInfo>& files,
                               const OperationOptions& initialOptions, bool offerRemember,
                               QPointF point,
                               std::function<void(const OperationOptions&)> onApply,
                               std::function<void()> onCancel, const ScreenProvider& screens);

} // namespace qv
