#include "jobs/OptionsActions.h"

#include "engines/image/ImageEngine.h"
#include "jobs/PageRanges.h"
#include "model/settings/RememberedOptions.h"
#include "platform/settings/SettingsStore.h"

#include <algorithm>

namespace qv {

bool asksPasswordConfirmation(const QString& title)
{
    return title.toLower().contains(QLatin1String("protect"));
}

bool canApplyOptions(const QList<OptionField>& fields, const QString& title,
                     const OptionsModel& model)
{
    if (!fields.contains(OptionField::password))
        return true;
    const auto& password = model.options().password;
    if (!password || password->isEmpty())
        return false;
    if (asksPasswordConfirmation(title))
        return model.confirmPassword() == *password;
    return true;
}

void finalizeOptions(const QList<OptionField>& fields, OptionsModel& model)
{
    model.updateOptions([&](OperationOptions& options) {
        if (fields.contains(OptionField::splitPages)) {
            switch (model.splitChoice()) {
            case 2: options.split = SplitMode::ranges(parsePageRanges(model.rangesText())); break;
            case 1: options.split = SplitMode::everyNPages(std::max(model.everyN(), 1)); break;
            default: options.split = SplitMode::everyPage(); break;
            }
        }
        if (fields.contains(OptionField::mergeOrder)) {
            QList<QUrl> order;
            for (const FileInfo& file : model.files())
                order.append(file.url);
            options.fileOrder = order;
        }
    });
}

void applyOptionsSheet(const OptionsModel& model, const OperationDescriptor& descriptor,
                       const std::function<void()>& close,
                       const std::function<void(const OperationOptions&)>& proceed,
                       SettingsStore& store)
{
    // Copied first: closing the sheet may destroy the model.
    const OperationOptions options = model.options();
    if (model.remember())
        rememberOptions(options, descriptor.id, store);
    if (close)
        close();
    if (proceed)
        proceed(options);
}

void applyOptionsSheet(const OptionsModel& model, const OperationDescriptor& descriptor,
                       const std::function<void()>& close,
                       const std::function<void(const OperationOptions&)>& proceed)
{
    applyOptionsSheet(model, descriptor, close, proceed, SettingsStore::shared());
}

double snapshotQualityForOutput(ImageOutput output, const SettingsSnapshot& snapshot)
{
    switch (output) {
    case ImageOutput::jpg:
    case ImageOutput::jp2: return snapshot.jpegQuality;
    case ImageOutput::heic: return snapshot.heicQuality;
    case ImageOutput::webp: return snapshot.webpQuality / 100.0;
    case ImageOutput::avif: return snapshot.avifQuality / 100.0;
    default: return 1.0;
    }
}

OptionsModel::DefaultQuality makeDefaultQuality(const OperationDescriptor& descriptor,
                                                const QList<FileInfo>& files,
                                                const SettingsSnapshot& snapshot,
                                                const ImageWriteSupport& support)
{
    if (descriptor.optionFields.contains(OptionField::compressPreset) && !files.isEmpty()) {
        const ImageOutput output = ImageEngine::sameFormatOutput(files.first(), support);
        const std::optional<int> sourceQuality = ImageEngine::estimatedJPEGQuality(files.first());
        return [output, sourceQuality](const OperationOptions& options) {
            return ImageEngine::compressionQuality(
                output, options.videoPreset.value_or(QualityPreset::medium), sourceQuality);
        };
    }
    const QStringList parts = descriptor.id.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const std::optional<ImageOutput> output =
        parts.isEmpty() ? std::nullopt : imageOutputFromString(parts.last());
    const double quality =
        output ? snapshotQualityForOutput(*output, snapshot) : snapshot.jpegQuality;
    return [quality](const OperationOptions&) { return quality; };
}

OptionsModel::DefaultQuality makeDefaultQuality(const OperationDescriptor& descriptor,
                                                const QList<FileInfo>& files)
{
    return makeDefaultQuality(descriptor, files, SettingsSnapshot::load(),
                              ImageWriteSupport::current());
}

QString optionsSheetSubtitle(const QList<FileInfo>& files)
{
    if (files.size() == 1)
        return files.first().name;
    return QString::number(files.size()) + QStringLiteral(" files");
}

QString optionsSheetWindowTitle(const QString& title)
{
    // Each word starts upper case; a word written all in capitals (CSV, PDF) stays so, as
    // "Csv" reads like a fault.
    QStringList words = title.split(QLatin1Char(' '));
    for (QString& word : words) {
        if (word.isEmpty() || word == word.toUpper())
            continue;
        word = word.toLower();
        word[0] = word[0].toUpper();
    }
    return words.join(QLatin1Char(' '));
}

} // namespace qv
