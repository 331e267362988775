#include "model/operations/OperationDescriptor.h"

namespace qv {

bool OperationDescriptor::applies(const QList<FileInfo>& files) const
{
    if (files.isEmpty() || files.size() < minimumFiles)
        return false;
    if (files.size() != 1 && multiFile == MultiFileMode::single)
        return false;
    for (const FileInfo& file : files) {
        if (!categories.contains(file.category) || !accepts(file))
            return false;
    }
    return true;
}

OperationDescriptor::AcceptTest OperationDescriptor::acceptEveryFile()
{
    static const AcceptTest every = [](const FileInfo&) { return true; };
    return every;
}

} // namespace qv
