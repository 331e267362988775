#include "platform/sandbox/SandboxEnvironment.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

namespace {

// Sets a variable for the test's span, or unsets it for a null value.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (m_had)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_saved;
};

} // namespace

// Behind Landlock the client library cannot open the runtime folder to look for the socket.
TEST(SandboxEnvironment, ThePlayerIsToldWhereTheSoundServersSocketIs)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    ASSERT_TRUE(QDir(runtime.path()).mkdir(QStringLiteral("pulse")));
    const QString socketPath = runtime.filePath(QStringLiteral("pulse/native"));
    const ScopedVariable folder("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const ScopedVariable server("PULSE_SERVER", QByteArray());
    const ScopedVariable pulseFolder("PULSE_RUNTIME_PATH", QByteArray());
    const auto told = [] { return SandboxEnvironment::forPlayer(QStringLiteral("/nonexistent")).value(QStringLiteral("PULSE_SERVER")); };

    // No server, nothing named: the client library's own search finds nothing either.
    EXPECT_EQ(told(), QString());
    QFile plain(socketPath);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(told(), QString()) << "a file is no socket";
    ASSERT_TRUE(QFile::remove(socketPath));

    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listening, 0);
    const auto closeIt = qScopeGuard([listening] { ::close(listening); });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(encoded.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(told(), QStringLiteral("unix:") + socketPath);

    // The user's own choice stands.
    {
        const ScopedVariable chosen("PULSE_SERVER", "tcp:sound.example:4713");
        EXPECT_EQ(told(), QStringLiteral("tcp:sound.example:4713"));
    }
    // A runtime folder of PulseAudio's own is where the client library looks first.
    {
        const ScopedVariable elsewhere("PULSE_RUNTIME_PATH", QFile::encodeName(runtime.filePath(QStringLiteral("elsewhere"))));
        EXPECT_EQ(told(), QString());
    }
    {
        const ScopedVariable same("PULSE_RUNTIME_PATH", QFile::encodeName(runtime.filePath(QStringLiteral("pulse"))));
        EXPECT_EQ(told(), QStringLiteral("unix:") + socketPath);
    }
}
