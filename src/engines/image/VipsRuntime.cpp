#include "engines/image/VipsRuntime.h"

#include "engines/image/VipsLibrary.h"
#include "model/errors/EngineError.h"
#include "model/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gmodule.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

namespace qv {

namespace {

std::atomic<bool> g_modulesDeferred{false};
// VIPSHOME was set for libvips' start before the thread that starts it: put back once it ended.
std::atomic<bool> g_homeSetAside{false};

// libvips itself, with its modules unless they were put off.
bool startVips()
{
    static const bool started = [] {
        if (!VipsLibrary::load()) {
            qCWarning(enginesLog) << "libvips could not be opened:" << VipsLibrary::error();
            return false;
        }
        // libvips loads its modules from the library folder below VIPSHOME. Its own prefix
        // spelled with a trailing slash is not taken for its own, so the folder it guesses is
        // not there, while the translations of its messages (share/locale) are still found.
        const bool deferred = g_modulesDeferred && !g_homeSetAside && !qEnvironmentVariableIsSet("VIPSHOME");
        if (deferred)
            ::setenv("VIPSHOME", QV_VIPS_PREFIX "/", 1);
        const bool ok = VIPS_INIT("quorvenda") == 0;
        // What libvips would have left there for the programs this process starts.
        if (deferred)
            ::setenv("VIPSHOME", QV_VIPS_PREFIX, 1);
        if (!ok)
            return false;
        // Files change on disk between jobs: never answer from a cached load.
        vips_cache_set_max(0);
        // A picture's text and pictures never come from another file.
        vips_operation_block_set("VipsForeignLoadSvgFile", TRUE);
        return true;
    }();
    return started;
}

// The modules libvips puts off, loaded as its start would have (a module registers its
// formats when opened and stays).
bool loadVipsModules()
{
    static const bool loaded = [] {
        if (!startVips())
            return false;
        if (g_modulesDeferred) {
            const QString folder = QStringLiteral(QV_VIPS_LIBDIR "/vips-modules-%1.%2").arg(vips_version(0)).arg(vips_version(1));
            for (const QString& name : QDir(folder).entryList({QStringLiteral("*.so")}, QDir::Files, QDir::Name)) {
                const QByteArray path = QFile::encodeName(QDir(folder).filePath(name));
                if (!g_module_open(path.constData(), G_MODULE_BIND_LAZY))
                    qCWarning(enginesLog) << "A libvips module did not load:" << path << g_module_error();
            }
        }
        return true;
    }();
    return loaded;
}

// The formats libvips reads itself and no module of it claims, by their first bytes.
bool readByLibvipsItself(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    return head.startsWith("\xFF\xD8\xFF") || head.startsWith("\x89PNG\r\n\x1A\n") || head.startsWith("GIF87a")
        || head.startsWith("GIF89a") || (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP");
}

} // namespace

void deferVipsModules()
{
    g_modulesDeferred = true;
}

std::thread startVipsAside()
{
    // Only a value replaced, never one added, while other threads read the environment.
    if (g_modulesDeferred && !qEnvironmentVariableIsSet("VIPSHOME")) {
        ::setenv("VIPSHOME", QV_VIPS_PREFIX "/", 1);
        g_homeSetAside = true;
    }
    return std::thread([] {
        if (!startVips())
            return;
        // Each format's description is made on its first use: the first file's look and its
        // writer's would otherwise make them all while the item waits.
        const auto none = [](void*, void*, void*) -> void* { return nullptr; };
        vips_foreign_map("VipsForeignLoad", none, nullptr, nullptr);
        vips_foreign_map("VipsForeignSave", none, nullptr, nullptr);
    });
}

void finishVipsAside(std::thread& aside)
{
    if (aside.joinable())
        aside.join();
    // What libvips would have left there for the programs this process starts.
    if (g_homeSetAside.exchange(false))
        ::setenv("VIPSHOME", QV_VIPS_PREFIX, 1);
}

bool ensureVips()
{
    return loadVipsModules();
}

void requireVips()
{
    if (!VipsLibrary::load())
        throw EngineError(QStringLiteral("The picture library libvips is not installed, so pictures cannot be read or written"),
                          VipsLibrary::error());
    if (!startVips())
        throw EngineError(QStringLiteral("The picture library libvips could not start"));
}

bool ensureVipsToRead(const QString& path)
{
    if (!g_modulesDeferred || isSvgName(path))
        return ensureVips();
    if (!startVips())
        return false;
    return readByLibvipsItself(path) || loadVipsModules();
}

bool ensureVipsOperation(const char* name)
{
    if (!g_modulesDeferred)
        return ensureVips();
    if (!startVips())
        return false;
    return vips_type_find("VipsOperation", name) != 0 || loadVipsModules();
}

bool isSvgName(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("svg") || suffix == QLatin1String("svgz");
}

VipsSource* svgSource(const QString& path)
{
    if (!ensureVips())
        return nullptr;
    // Far above any drawing; an SVG this large is a decompression bomb or no SVG.
    constexpr qint64 largest = qint64(256) << 20;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > largest) {
        vips_error("svgSource", "%s", "cannot read the picture");
        return nullptr;
    }
    const QByteArray bytes = file.read(largest + 1);
    if (bytes.isEmpty() || bytes.size() > largest) {
        vips_error("svgSource", "%s", "cannot read the picture");
        return nullptr;
    }
    VipsBlob* blob = vips_blob_copy(bytes.constData(), std::size_t(bytes.size()));
    VipsSource* source = vips_source_new_from_blob(blob);
    vips_area_unref(VIPS_AREA(blob));
    return source;
}

void setVipsLanes(int cpuLaneLimit)
{
    // Concurrency is libvips' own: no module is needed for it.
    if (!startVips())
        return;
    vips_concurrency_set(std::max(1, QThread::idealThreadCount() / std::max(1, cpuLaneLimit)));
}

} // namespace qv
