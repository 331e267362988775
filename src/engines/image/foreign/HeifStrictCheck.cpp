#include "engines/image/foreign/HeifStrictCheck.h"

#include "platform/processes/LibrarySymbol.h"

#include <QFile>

#include <libheif/heif.h>

#include <memory>
#include <vector>

#include <dlfcn.h>

namespace qv {

namespace {

// libheif, with the HEVC, AV1 and x265 libraries it links, is opened on the first HEIF or AVIF
// file, not by every process that links the image engine.
struct Heif {
    decltype(&heif_context_alloc) contextAlloc = nullptr;
    decltype(&heif_context_free) contextFree = nullptr;
    decltype(&heif_context_read_from_file) readFromFile = nullptr;
    decltype(&heif_context_get_primary_image_handle) primaryHandle = nullptr;
    decltype(&heif_context_get_number_of_top_level_images) topLevelCount = nullptr;
    decltype(&heif_context_get_list_of_top_level_image_IDs) topLevelIds = nullptr;
    decltype(&heif_context_get_image_handle) imageHandle = nullptr;
    decltype(&heif_image_handle_release) handleRelease = nullptr;
    decltype(&heif_decoding_options_alloc) optionsAlloc = nullptr;
    decltype(&heif_decoding_options_free) optionsFree = nullptr;
    decltype(&heif_decode_image) decode = nullptr;
    decltype(&heif_image_get_decoding_warnings) warnings = nullptr;
    decltype(&heif_image_release) imageRelease = nullptr;
};

// Null when libheif is not there or lacks a function.
const Heif* heif()
{
    static const std::optional<Heif> loaded = []() -> std::optional<Heif> {
        void* library = ::dlopen(QV_HEIF_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return std::nullopt;
        Heif h;
        const bool all = resolveSymbol(library, "heif_context_alloc", h.contextAlloc)
            && resolveSymbol(library, "heif_context_free", h.contextFree)
            && resolveSymbol(library, "heif_context_read_from_file", h.readFromFile)
            && resolveSymbol(library, "heif_context_get_primary_image_handle", h.primaryHandle)
            && resolveSymbol(library, "heif_context_get_number_of_top_level_images", h.topLevelCount)
            && resolveSymbol(library, "heif_context_get_list_of_top_level_image_IDs", h.topLevelIds)
            && resolveSymbol(library, "heif_context_get_image_handle", h.imageHandle)
            && resolveSymbol(library, "heif_image_handle_release", h.handleRelease)
            && resolveSymbol(library, "heif_decoding_options_alloc", h.optionsAlloc)
            && resolveSymbol(library, "heif_decoding_options_free", h.optionsFree)
            && resolveSymbol(library, "heif_decode_image", h.decode)
            && resolveSymbol(library, "heif_image_get_decoding_warnings", h.warnings)
            && resolveSymbol(library, "heif_image_release", h.imageRelease);
        if (!all)
            return std::nullopt;
        return h;
    }();
    return loaded ? &*loaded : nullptr;
}

struct ContextFree {
    void operator()(heif_context* context) const { heif()->contextFree(context); }
};
struct HandleFree {
    void operator()(heif_image_handle* handle) const { heif()->handleRelease(handle); }
};
struct ImageFree {
    void operator()(heif_image* image) const { heif()->imageRelease(image); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* options) const { heif()->optionsFree(options); }
};

QString text(const heif_error& error)
{
    return QString::fromUtf8(error.message ? error.message : "libheif error");
}

} // namespace

std::optional<QString> HeifStrictCheck::problem(const QString& path, int index)
{
    const Heif* h = heif();
    if (!h)
        return QStringLiteral("libheif could not start");
    std::unique_ptr<heif_context, ContextFree> context(h->contextAlloc());
    if (!context)
        return QStringLiteral("libheif could not start");
    heif_error error = h->readFromFile(context.get(), QFile::encodeName(path).constData(), nullptr);
    if (error.code != heif_error_Ok)
        return text(error);

    heif_image_handle* raw = nullptr;
    if (index == 0) {
        error = h->primaryHandle(context.get(), &raw);
    } else {
        const int count = h->topLevelCount(context.get());
        if (index < 0 || index >= count)
            return QStringLiteral("No image %1 of %2").arg(index).arg(count);
        std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
        h->topLevelIds(context.get(), ids.data(), count);
        error = h->imageHandle(context.get(), ids[static_cast<std::size_t>(index)], &raw);
    }
    std::unique_ptr<heif_image_handle, HandleFree> handle(raw);
    if (error.code != heif_error_Ok)
        return text(error);

    std::unique_ptr<heif_decoding_options, OptionsFree> options(h->optionsAlloc());
    if (!options)
        return QStringLiteral("libheif could not start");
    options->strict_decoding = 1;
    heif_image* decoded = nullptr;
    error = h->decode(handle.get(), &decoded, heif_colorspace_undefined, heif_chroma_undefined,
                              options.get());
    std::unique_ptr<heif_image, ImageFree> image(decoded);
    if (error.code != heif_error_Ok)
        return text(error);
    heif_error warning{};
    if (image && h->warnings(image.get(), 0, &warning, 1) > 0)
        return text(warning);
    return std::nullopt;
}

} // namespace qv
