#pragma once

#include "model/operations/OperationDescriptor.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

namespace qv {

// The worker process's side: takes one item at a time from the application, runs it behind
// the sandbox, and reports what happens. Used by the worker executable only.
class WorkerServer {
public:
    using Lookup = std::function<std::optional<OperationDescriptor>(const QString& id)>;
    // A question about a file: its arguments in, its answer out; throws as engines do.
    using Call = std::function<QJsonObject(const QJsonObject& arguments)>;
    using Calls = QHash<QString, Call>;

    // Serves items and calls read from `input` and answers on `output` until the input closes;
    // returns the process's exit status. beforeFirstRequest runs once the first item or call has
    // come, before anything of it is done (its ping is answered before).
    static int serve(int input, int output, const Lookup& lookup, const Calls& calls = {},
                     const std::function<void()>& beforeFirstRequest = {});
};

} // namespace qv
