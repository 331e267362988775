#pragma once

#include <QDateTime>

namespace qv {

// The time as the program sees it; tests put a clock of their own in its place.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    static const Clock& system();
};

} // namespace qv
