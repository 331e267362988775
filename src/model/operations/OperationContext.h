#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/JobNotes.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsSnapshot.h"

#include <memory>
#include <stop_token>

namespace qv {

// What an operation's factory receives for one work item.
struct OperationContext {
    QList<FileInfo> files; // the item's input files, in the item's order
    OperationOptions options;
    SettingsSnapshot settings;
    std::shared_ptr<JobNotes> notes;
    std::stop_token stopToken; // stop requested: the job was cancelled
};

} // namespace qv
