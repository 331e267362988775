#pragma once

#include "model/errors/Error.h"

#include <stop_token>

namespace qv {

// The work was stopped because its job was cancelled; the job engine ends such an item as
// cancelled, never as failed.
class CancellationError : public Error {
public:
    QString localizedDescription() const override;
};

// Throws CancellationError when a stop has been requested on the token.
void throwIfCancelled(const std::stop_token& stop);

} // namespace qv
