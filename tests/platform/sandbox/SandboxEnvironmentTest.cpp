#include "platform/sandbox/SandboxEnvironment.h"

#include <QtGlobal>

#include <gtest/gtest.h>

using namespace qv;

// glibc looks at /etc/localtime again at every local time it works out unless TZ names the
// zone; a worker unpacking an archive did so for every entry.
TEST(SandboxEnvironment, WorkersAreToldTheSystemsZoneUnlessTheUsersOwnIsSet)
{
    const bool had = qEnvironmentVariableIsSet("TZ");
    const QByteArray saved = qgetenv("TZ");
    qunsetenv("TZ");
    EXPECT_EQ(SandboxEnvironment::forWorker(QStringLiteral("/nonexistent")).value(QStringLiteral("TZ")),
              QStringLiteral(":/etc/localtime"));
    EXPECT_EQ(SandboxEnvironment::forPlayer(QStringLiteral("/nonexistent")).value(QStringLiteral("TZ")),
              QStringLiteral(":/etc/localtime"));
    qputenv("TZ", "Pacific/Auckland");
    EXPECT_EQ(SandboxEnvironment::forWorker(QStringLiteral("/nonexistent")).value(QStringLiteral("TZ")),
              QStringLiteral("Pacific/Auckland"));
    if (had)
        qputenv("TZ", saved);
    else
        qunsetenv("TZ");
}
