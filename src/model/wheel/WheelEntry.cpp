#include "model/wheel/WheelEntry.h"

namespace qv {

WheelEntry WheelEntry::forOperation(const OperationDescriptor& operation, WheelKind wheel)
{
    return WheelEntry{operation.id, operation.title, operation.symbol, wheel, {operation}};
}

const OperationDescriptor* WheelEntry::operationForFile(const FileInfo& file) const
{
    for (const OperationDescriptor& op : operations) {
        if (op.categories.contains(file.category) && op.accepts(file))
            return &op;
    }
    for (const OperationDescriptor& op : operations) {
        if (op.accepts(file))
            return &op;
    }
    return nullptr;
}

QStringList WheelEntry::operationIDs() const
{
    QStringList ids;
    for (const OperationDescriptor& op : operations)
        ids.append(op.id);
    return ids;
}

} // namespace qv
