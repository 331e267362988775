#pragma once

#include "model/operations/OperationDescriptor.h"

namespace qv {

// The content of one wheel segment: the operations it runs, in the registry's order.
struct WheelEntry {
    QString id;
    QString title;
    std::optional<QString> symbol;
    WheelKind wheel = WheelKind::convert;
    QList<OperationDescriptor> operations;

    // An entry that stands for one operation under its own id, title and symbol.
    static WheelEntry forOperation(const OperationDescriptor& operation, WheelKind wheel);

    // The operation that handles the file: the first that lists its category and accepts it,
    // else the first that accepts it at all. The pointer lives as long as the entry.
    const OperationDescriptor* operationForFile(const FileInfo& file) const;

    // The ids of its operations, in order.
    QStringList operationIDs() const;
};

} // namespace qv
