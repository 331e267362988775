#include "model/Clock.h"

namespace qv {

namespace {

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

} // namespace

const Clock& Clock::system()
{
    static const SystemClock clock;
    return clock;
}

} // namespace qv
