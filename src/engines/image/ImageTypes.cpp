#include "engines/image/ImageTypes.h"

#include "engines/image/VipsRuntime.h"
#include "model/files/FileFormat.h"

#include <vips/vips.h>

#include <functional>

namespace qv {

namespace {

void* collectSuffixes(void* klass, void* target, void*)
{
    auto* suffixes = static_cast<QSet<QString>*>(target);
    const auto* foreign = static_cast<VipsForeignClass*>(klass);
    for (const char** suffix = foreign->suffs; suffix && *suffix; ++suffix)
        suffixes->insert(QString::fromUtf8(*suffix).toLower().remove(0, 1));
    return nullptr;
}

QSet<QString> imageFormatIdsWhere(const std::function<bool(const QString& ext)>& handled)
{
    QSet<QString> ids;
    for (const FileFormat& format : formatCatalogue()) {
        if (format.category != FileCategory::image)
            continue;
        for (const QString& ext : format.extensions) {
            if (handled(ext)) {
                ids.insert(format.id);
                break;
            }
        }
    }
    return ids;
}

} // namespace

QSet<QString> vipsReadableFormatIds()
{
    if (!ensureVips())
        return {};
    // A loader finds its files by content, so a made-up name cannot be asked about:
    // take the suffixes every loader declares instead.
    QSet<QString> suffixes;
    vips_foreign_map("VipsForeignLoad", collectSuffixes, &suffixes, nullptr);
    QSet<QString> ids =
        imageFormatIdsWhere([&](const QString& ext) { return suffixes.contains(ext); });
    // The ImageMagick loader sniffs content and declares no suffix; these are its
    // built-in coders.
    if (vips_type_find("VipsForeignLoad", "magickload") != 0)
        ids.unite({QStringLiteral("bmp"), QStringLiteral("ico"), QStringLiteral("psd"),
                   QStringLiteral("tga")});
    return ids;
}

QSet<QString> vipsWritableFormatIds()
{
    if (!ensureVips())
        return {};
    QSet<QString> ids = imageFormatIdsWhere([](const QString& ext) {
        const QByteArray name = "probe." + ext.toUtf8();
        const bool found = vips_foreign_find_save(name.constData()) != nullptr;
        if (!found)
            vips_error_clear();
        return found;
    });
    // The ImageMagick saver is picked by its "format" option, not by a suffix.
    if (vips_type_find("VipsForeignSave", "magicksave") != 0)
        ids.unite({QStringLiteral("bmp"), QStringLiteral("tga")});
    // Photoshop files are written by the engine's own writer.
    ids.insert(QStringLiteral("psd"));
    return ids;
}

} // namespace qv
