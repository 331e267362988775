#include "engines/image/foreign/HeifStrictCheck.h"

#include <QFile>

#include <libheif/heif.h>

#include <memory>
#include <vector>

namespace qv {

namespace {

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleFree {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageFree {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

QString text(const heif_error& error)
{
    return QString::fromUtf8(error.message ? error.message : "libheif error");
}

} // namespace

std::optional<QString> HeifStrictCheck::problem(const QString& path, int index)
{
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context)
        return QStringLiteral("libheif could not start");
    heif_error error = heif_context_read_from_file(context.get(), QFile::encodeName(path).constData(), nullptr);
    if (error.code != heif_error_Ok)
        return text(error);

    heif_image_handle* raw = nullptr;
    if (index == 0) {
        error = heif_context_get_primary_image_handle(context.get(), &raw);
    } else {
        const int count = heif_context_get_number_of_top_level_images(context.get());
        if (index < 0 || index >= count)
            return QStringLiteral("No image %1 of %2").arg(index).arg(count);
        std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
        heif_context_get_list_of_top_level_image_IDs(context.get(), ids.data(), count);
        error = heif_context_get_image_handle(context.get(), ids[static_cast<std::size_t>(index)], &raw);
    }
    std::unique_ptr<heif_image_handle, HandleFree> handle(raw);
    if (error.code != heif_error_Ok)
        return text(error);

    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options)
        return QStringLiteral("libheif could not start");
    options->strict_decoding = 1;
    heif_image* decoded = nullptr;
    error = heif_decode_image(handle.get(), &decoded, heif_colorspace_undefined, heif_chroma_undefined,
                              options.get());
    std::unique_ptr<heif_image, ImageFree> image(decoded);
    if (error.code != heif_error_Ok)
        return text(error);
    heif_error warning{};
    if (image && heif_image_get_decoding_warnings(image.get(), 0, &warning, 1) > 0)
        return text(warning);
    return std::nullopt;
}

} // namespace qv
