#include "engines/vision/VisionModule.h"

#include "model/errors/EngineError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <dlfcn.h>
#include <mutex>

namespace qv {

namespace {

constexpr auto kModuleName = "quorvenda-vision.so";

std::atomic<VisionModule*> g_module{nullptr};

std::optional<QString> modulePath()
{
    QStringList candidates;
    const QString chosen = qEnvironmentVariable("QUORVENDA_VISION_MODULE");
    if (!chosen.isEmpty()) {
        candidates << chosen;
    } else {
        const QString programs = QCoreApplication::applicationDirPath();
        candidates << programs + QLatin1Char('/') + QLatin1String(kModuleName)
                   << programs + QStringLiteral("/../lib/quorvenda/") + QLatin1String(kModuleName);
#ifdef QV_VISION_MODULE_BUILD_PATH
        // Test and benchmark programs run from folders below the build.
        candidates << QStringLiteral(QV_VISION_MODULE_BUILD_PATH);
#endif
    }
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return std::nullopt;
}

} // namespace

bool VisionModule::installed()
{
    return modulePath().has_value();
}

bool VisionModule::isLoaded()
{
    return g_module.load() != nullptr;
}

VisionModule& VisionModule::loaded()
{
    if (VisionModule* module = g_module.load())
        return *module;
    static std::mutex loading;
    const std::lock_guard locker(loading);
    if (VisionModule* module = g_module.load())
        return *module;
    const std::optional<QString> path = modulePath();
    if (!path)
        throw EngineError(QStringLiteral("Reading pictures isn't available"),
                          QStringLiteral("%1 is not installed").arg(QLatin1String(kModuleName)));
    // Never unloaded: exceptions and objects it made may outlive any call.
    void* handle = ::dlopen(QFile::encodeName(*path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw EngineError(QStringLiteral("Reading pictures isn't available"), QString::fromLocal8Bit(::dlerror()));
    using Entry = VisionModule* (*)(int);
    const auto entry = reinterpret_cast<Entry>(::dlsym(handle, "quorvenda_vision_module"));
    VisionModule* module = entry ? entry(interfaceVersion) : nullptr;
    if (!module)
        throw EngineError(QStringLiteral("Reading pictures isn't available"),
                          QStringLiteral("%1 does not match this Quorvenda").arg(*path));
    g_module.store(module);
    return *module;
}

} // namespace qv
