#pragma once

#include "model/OperationOptions.h"

namespace qv {

class SettingsStore;

// The options remembered for an operation, or empty options when none can be read.
OperationOptions loadRememberedOptions(const QString& operationId, const SettingsStore& store);
OperationOptions loadRememberedOptions(const QString& operationId);

// Stores the options as the operation's default, without the values that belong to one file.
// Options that cannot be written leave the earlier value in place.
void rememberOptions(const OperationOptions& options, const QString& operationId, SettingsStore& store);
void rememberOptions(const OperationOptions& options, const QString& operationId);

} // namespace qv
