#include "platform/desktop/TestHarness.h"

#include <QString>

namespace qv {

bool isRunningTests()
{
    // Read each time: a test may set it after something else has asked.
    return qEnvironmentVariableIsSet("QUORVENDA_TEST_HARNESS")
        && qEnvironmentVariable("QUORVENDA_TEST_HARNESS") != QLatin1String("0");
}

} // namespace qv
