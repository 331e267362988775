#include "wheel/WheelEntry.h"

namespace qv {

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

} // namespace qv
