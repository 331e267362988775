#pragma once

#include "model/OperationDescriptor.h"

#include <QString>

#include <functional>
#include <optional>

namespace qv {

// The worker process's side: takes one item at a time from the application, runs it behind
// the sandbox, and reports what happens. Used by the worker executable only.
class WorkerServer {
public:
    using Lookup = std::function<std::optional<OperationDescriptor>(const QString& id)>;

    // Serves items read from `input` and answers on `output` until the input closes; returns
    // the process's exit status.
    static int serve(int input, int output, const Lookup& lookup);
};

} // namespace qv
