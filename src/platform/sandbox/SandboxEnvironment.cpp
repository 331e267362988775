#include "platform/sandbox/SandboxEnvironment.h"

#include "platform/files/TemporaryRoot.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <sys/stat.h>

namespace qv {

namespace {

QHash<QString, QString> common(const QString& ownFolder)
{
    QHash<QString, QString> env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& name : system.keys()) {
        if (SandboxEnvironment::passes(name))
            env.insert(name, system.value(name));
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Every glibc arena reserves 64 MB of address space, which the memory limit counts.
    env.insert(QStringLiteral("MALLOC_ARENA_MAX"), QStringLiteral("4"));
    // The system's zone, named: without TZ glibc looks at /etc/localtime again at every local
    // time it works out (a file-status call for each archive entry's date).
    if (!env.contains(QStringLiteral("TZ")))
        env.insert(QStringLiteral("TZ"), QStringLiteral(":/etc/localtime"));
    // Libraries' and programs' own files (temporary files, caches, settings they save) go
    // where the process may write, and go with it.
    env.insert(QStringLiteral("TMPDIR"), ownFolder);
    env.insert(QStringLiteral("HOME"), ownFolder);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), ownFolder);
    // Where the worker finds the application's temporary root, whatever its home says.
    env.insert(QStringLiteral("XDG_CACHE_HOME"), TemporaryRoot::cacheFolder());
    return env;
}

QHash<QString, QString> workerOnly(const QString& ownFolder)
{
    QHash<QString, QString> env = common(ownFolder);
    // Its temporary root is its own folder: profiles, pictures for the application, and the
    // programs' files all go there.
    env.insert(QStringLiteral("QUORVENDA_TEMPORARY_ROOT"), ownFolder);
    return env;
}

} // namespace

bool SandboxEnvironment::passes(const QString& name)
{
    static const QStringList exact{
        QStringLiteral("PATH"), QStringLiteral("LANG"), QStringLiteral("LANGUAGE"), QStringLiteral("TZ"),
        QStringLiteral("USER"), QStringLiteral("LOGNAME"), QStringLiteral("LD_LIBRARY_PATH"),
        QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("XDG_CONFIG_DIRS"), QStringLiteral("FONTCONFIG_FILE"),
        QStringLiteral("FONTCONFIG_PATH"), QStringLiteral("TESSDATA_PREFIX"), QStringLiteral("MAGICK_CONFIGURE_PATH"),
    };
    if (exact.contains(name))
        return true;
    if (name == QLatin1String("QUORVENDA_TEST_HARNESS") || name == QLatin1String("QUORVENDA_TEMPORARY_ROOT"))
        return false;
    for (const char* prefix : {"LC_", "QT_", "QUORVENDA_", "GST_", "ASAN_", "UBSAN_", "LSAN_", "TSAN_", "VIPS_"}) {
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

QHash<QString, QString> SandboxEnvironment::forWorker(const QString& ownFolder)
{
    return workerOnly(ownFolder);
}

QHash<QString, QString> SandboxEnvironment::forPlayer(const QString& ownFolder)
{
    QHash<QString, QString> env = common(ownFolder);
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    // The sound server's client finds its cookie below the home folder.
    for (const QString& name : {QStringLiteral("HOME"), QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("PULSE_SERVER"),
                                QStringLiteral("PIPEWIRE_RUNTIME_DIR"), QStringLiteral("PIPEWIRE_REMOTE")}) {
        if (system.contains(name))
            env.insert(name, system.value(name));
    }
    // Left to find the socket itself, the PulseAudio client first opens its runtime folder to
    // make it safe, which the walls refuse where Landlock makes them; it then tries servers that
    // are not there, and the movie has no sound. Named, the socket is reached directly.
    if (!env.contains(QStringLiteral("PULSE_SERVER"))) {
        const QString folder = system.contains(QStringLiteral("PULSE_RUNTIME_PATH"))
            ? system.value(QStringLiteral("PULSE_RUNTIME_PATH"))
            : (env.contains(QStringLiteral("XDG_RUNTIME_DIR")) ? env.value(QStringLiteral("XDG_RUNTIME_DIR")) + QStringLiteral("/pulse") : QString());
        struct stat status {};
        const QString socket = folder + QStringLiteral("/native");
        if (QDir::isAbsolutePath(folder) && ::stat(QFile::encodeName(socket).constData(), &status) == 0 && S_ISSOCK(status.st_mode))
            env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + socket);
    }
    return env;
}

} // namespace qv
