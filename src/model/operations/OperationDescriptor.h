#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/EngineID.h"
#include "model/operations/FileOperation.h"
#include "model/operations/OperationBehavior.h"
#include "model/operations/OperationContext.h"
#include "model/operations/OptionField.h"
#include "model/SharedEnums.h"

#include <QList>
#include <QSet>

#include <functional>
#include <memory>

namespace qv {

// One entry of the operation catalogue: everything the wheel, the dispatcher and the job
// engine need to know about an operation.
struct OperationDescriptor {
    using AcceptTest = std::function<bool(const FileInfo&)>;
    using Factory = std::function<std::shared_ptr<FileOperation>(const OperationContext&)>;

    QString id; // "convert.<category>.<ext>", "tool.<category>.<name>" or "action.<kind>"
    WheelKind wheel = WheelKind::tools;
    QString group;
    QString title;
    std::optional<QString> symbol;
    QSet<FileCategory> categories;
    AcceptTest accepts = acceptEveryFile(); // callable from any thread
    MultiFileMode multiFile = MultiFileMode::each;
    int minimumFiles = 1;
    OperationBehavior behavior;
    EngineID engine;
    std::optional<QString> outputExtension;
    bool copiesText = false; // puts what it reads on the clipboard (codes, recognised text, counts)
    bool namesFromContents = false; // its result takes the name of what the input holds (an archive's one entry)
    JobLane lane = JobLane::cpu;
    QString verb;
    QList<OptionField> optionFields; // the rows of its options sheet, in order
    Factory make; // empty for operations that never run as a job; callable from any thread

    // Whether the operation may be offered for exactly this selection.
    bool applies(const QList<FileInfo>& files) const;

    static AcceptTest acceptEveryFile();
};

} // namespace qv
