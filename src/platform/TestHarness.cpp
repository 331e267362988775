#include "platform/TestHarness.h"

#include <QString>

namespace qv {

bool isRunningTests()
{
    static const bool running = qEnvironmentVariableIsSet("QUORVENDA_TEST_HARNESS")
        && qEnvironmentVariable("QUORVENDA_TEST_HARNESS") != QLatin1String("0");
    return running;
}

} // namespace qv
