#include "platform/sandbox/SandboxEnvironment.h"

#include "platform/files/TemporaryRoot.h"

#include <QProcessEnvironment>

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
    return env;
}

} // namespace qv
