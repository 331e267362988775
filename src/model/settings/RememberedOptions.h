#pragma once

#include "model/operations/OperationOptions.h"

namespace qv {

class Settings;

// The options remembered for an operation, or empty options when none can be read.
OperationOptions loadRememberedOptions(const QString& operationId, const Settings& store);
OperationOptions loadRememberedOptions(const QString& operationId);

// Stores the options as the operation's default, without the values that belong to one file.
// Options that cannot be written leave the earlier value in place.
void rememberOptions(const OperationOptions& options, const QString& operationId, Settings& store);
void rememberOptions(const OperationOptions& options, const QString& operationId);

} // namespace qv
