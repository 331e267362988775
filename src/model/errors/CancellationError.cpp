#include "model/errors/CancellationError.h"

namespace qv {

QString CancellationError::localizedDescription() const
{
    return QStringLiteral("Cancelled");
}

void throwIfCancelled(const std::stop_token& stop)
{
    if (stop.stop_requested())
        throw CancellationError();
}

} // namespace qv
