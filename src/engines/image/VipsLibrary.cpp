#include "engines/image/VipsLibrary.h"

#ifdef QV_VIPS_SONAME

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <optional>

#include <dlfcn.h>

// Made by the build from libvips' exports (cmake/LazyStub.cmake): each function jumps through
// its slot, and an empty slot asks qv_vips_resolve for the address.
extern "C" {
__attribute__((visibility("hidden"))) extern const unsigned qv_vips_count;
__attribute__((visibility("hidden"))) extern const int qv_vips_name_offsets[];
__attribute__((visibility("hidden"))) extern const char qv_vips_names[];
__attribute__((visibility("hidden"))) extern void* qv_vips_slots[];
__attribute__((visibility("hidden"))) void* qv_vips_resolve(unsigned index) noexcept;
}

namespace qv {

namespace {

std::atomic<bool> g_loaded{false};

// Beside the program, where it is installed, or in the build.
std::optional<QString> orderLibrary()
{
    // Also before any application object, where applicationDirPath() only warns.
    const QString program = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString programs = program.isEmpty() ? QString() : QFileInfo(program).absolutePath();
    QStringList candidates;
    if (!programs.isEmpty())
        candidates << programs + QStringLiteral("/quorvenda-vips.so")
                   << programs + QStringLiteral("/../lib/quorvenda/quorvenda-vips.so");
#ifdef QV_VIPS_ORDER_BUILD_PATH
    candidates << QStringLiteral(QV_VIPS_ORDER_BUILD_PATH);
#endif
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return std::nullopt;
}

struct Opened {
    void* handle = nullptr;
    QString error;
};

const Opened& opened()
{
    static const Opened library = [] {
        Opened result;
        ::dlerror();
        // Global, as when it was linked: its modules and libheif find the copy already here.
        // Its libraries look up their symbols among their own first: a lookup that starts in
        // the process's hundred libraries costs half of the load, and none of those stands in
        // for one of libvips' own. Not under a preloaded library (another malloc), which they
        // would then pass by.
        const int lookup = qEnvironmentVariableIsEmpty("LD_PRELOAD") ? RTLD_DEEPBIND : 0;
        // Through the library that names them in the order their lookups are shortest in,
        // where it is here: the lookups take half the instructions. Its handle would look up
        // libvips' functions after the libraries named before it: they are asked of libvips'.
        if (const std::optional<QString> order = orderLibrary()) {
            if (::dlopen(QFile::encodeName(*order).constData(), RTLD_LAZY | RTLD_GLOBAL | lookup))
                result.handle = ::dlopen(QV_VIPS_SONAME, RTLD_LAZY | RTLD_GLOBAL | RTLD_NOLOAD);
            ::dlerror();
        }
        if (!result.handle)
            result.handle = ::dlopen(QV_VIPS_SONAME, RTLD_LAZY | RTLD_GLOBAL | lookup);
        if (!result.handle) {
            const char* why = ::dlerror();
            result.error = QString::fromLocal8Bit(why ? why : QV_VIPS_SONAME " could not be opened");
        }
        g_loaded = result.handle != nullptr;
        return result;
    }();
    return library;
}

} // namespace

bool VipsLibrary::load()
{
    return opened().handle != nullptr;
}

QString VipsLibrary::error()
{
    return opened().error;
}

bool VipsLibrary::isLoaded()
{
    return g_loaded;
}

bool VipsLibrary::isPresent()
{
    static const bool present = [] {
        if (isLoaded())
            return true;
        QStringList folders = qEnvironmentVariable("LD_LIBRARY_PATH").split(u':', Qt::SkipEmptyParts);
        folders << QStringLiteral(QV_VIPS_FOLDER) << QStringLiteral("/usr/local/lib") << QStringLiteral("/usr/lib")
                << QStringLiteral("/lib");
        for (const QString& folder : folders)
            if (QFileInfo(folder + QLatin1String("/" QV_VIPS_SONAME)).isFile())
                return true;
        // Elsewhere in the loader's configuration, or nowhere: only the loader can tell.
        return load();
    }();
    return present;
}

} // namespace qv

void* qv_vips_resolve(unsigned index) noexcept
{
    // Every path into libvips passes VipsRuntime's checks first, which open it or give up; a call
    // that gets here without the library has no value to return that could not be taken for success.
    if (index >= qv_vips_count)
        qFatal("libvips: no function %u", index);
    const char* name = qv_vips_names + qv_vips_name_offsets[index];
    if (!qv::VipsLibrary::load())
        qFatal("%s is called, but libvips could not be opened: %s", name, qPrintable(qv::VipsLibrary::error()));
    void* address = ::dlsym(qv::opened().handle, name);
    if (!address)
        qFatal("The libvips found has no %s", name);
    __atomic_store_n(&qv_vips_slots[index], address, __ATOMIC_RELEASE);
    return address;
}

#else

namespace qv {

bool VipsLibrary::load()
{
    return true;
}

QString VipsLibrary::error()
{
    return {};
}

bool VipsLibrary::isLoaded()
{
    return true;
}

bool VipsLibrary::isPresent()
{
    return true;
}

} // namespace qv

#endif
