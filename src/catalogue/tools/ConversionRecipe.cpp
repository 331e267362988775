#include "catalogue/tools/ConversionRecipe.h"

namespace qv {

QSet<QString> sameFormatIDs(const QString& target)
{
    if (target == QLatin1String("heic"))
        return {QStringLiteral("heic"), QStringLiteral("heif")};
    // Codec and animation targets re-encode even from the same container.
    static const QSet<QString> alwaysOffered{QStringLiteral("alac"), QStringLiteral("hevc"),
                                             QStringLiteral("prores"),
                                             QStringLiteral("webp-animated")};
    if (alwaysOffered.contains(target))
        return {};
    return {target};
}

bool conversionAccepts(const FileInfo& file, const QSet<QString>& alreadyIDs,
                       const std::optional<QSet<QString>>& requiredIDs,
                       const OperationDescriptor::AcceptTest& extra)
{
    const QString key = file.format ? file.format->id : file.ext;
    if (alreadyIDs.contains(key))
        return false;
    if (requiredIDs && !requiredIDs->contains(file.format ? file.format->id : QString()))
        return false;
    return extra ? extra(file) : true;
}

OperationDescriptor makeConversionDescriptor(const ConversionRecipe& recipe)
{
    OperationDescriptor d;
    const FileCategory idCategory =
        recipe.categories.isEmpty() ? FileCategory::other : recipe.categories.first();
    d.id = QStringLiteral("convert.") + toString(idCategory) + QLatin1Char('.') + recipe.target;
    d.wheel = WheelKind::convert;
    d.group = recipe.target;
    d.title = recipe.title;
    d.symbol = std::nullopt;
    d.categories = QSet<FileCategory>(recipe.categories.begin(), recipe.categories.end());
    d.accepts = [already = sameFormatIDs(recipe.target), required = recipe.requiredFormats,
                 extra = recipe.extraTest](const FileInfo& file) {
        return conversionAccepts(file, already, required, extra);
    };
    d.multiFile = recipe.multiFile;
    d.minimumFiles = 1;
    d.behavior = recipe.asksForOptions ? OperationBehavior::sheet() : OperationBehavior::run();
    d.engine = recipe.engine;
    d.outputExtension = recipe.outputExtension.value_or(recipe.target);
    d.lane = recipe.lane;
    d.verb = QStringLiteral("Converting to ") + recipe.title;
    d.optionFields = recipe.optionFields;
    if (recipe.run)
        d.make = conversionFactory(recipe.run);
    return d;
}

} // namespace qv
