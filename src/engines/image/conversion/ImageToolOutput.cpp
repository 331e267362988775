#include "engines/image/conversion/ImageToolOutput.h"

#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageWriter.h"
#include "model/operations/HexColor.h"

#include <QFile>
#include <QFileInfo>

namespace qv {

QString ImageToolOutput::baseName(const ImageWork& work, const SettingsSnapshot& settings,
                                  const QString& operation)
{
    const QString suffix = settings.suffixForOperation(operation);
    if (suffix.isEmpty())
        return work.baseName;
    return work.baseName + QStringLiteral(" (") + suffix + QLatin1Char(')');
}

QUrl ImageToolOutput::deliver(const ImageWork& work, const QUrl& file, const SettingsSnapshot& settings,
                              const QString& operation, const QString& extension)
{
    if (!work.deliver)
        return work.place(file, extension);
    return work.deliver(file, baseName(work, settings, operation), extension);
}

QString ImageToolOutput::formatId(const FileInfo& file)
{
    return file.format ? file.format->id : QString();
}

std::optional<int> ImageToolOutput::savedPercent(qint64 before, qint64 after)
{
    if (before <= 0 || after <= 0 || after >= before)
        return std::nullopt;
    return int((1.0 - double(after) / double(before)) * 100.0);
}

QString ImageToolOutput::savingNote(int percent)
{
    return QString::number(percent) + QStringLiteral(" % smaller");
}

void ImageToolOutput::noteSaving(const OperationContext& context, qint64 before, const QString& resultPath)
{
    const QFileInfo result(resultPath);
    if (!result.exists() || !context.notes)
        return;
    if (const std::optional<int> percent = savedPercent(before, result.size()))
        context.notes->addMessage(savingNote(*percent));
}

QColor ImageToolOutput::alphaBackground(const OperationContext& context)
{
    const QString text = context.options.alphaBackground.value_or(context.settings.alphaBackground);
    return colorFromHex(text).value_or(QColor(Qt::white));
}

QColor ImageToolOutput::settingsAlphaBackground(const SettingsSnapshot& settings)
{
    return colorFromHex(settings.alphaBackground).value_or(QColor(Qt::white));
}

ImageToolOutput::WorkFileGuard::~WorkFileGuard()
{
    if (!kept && !path.isEmpty())
        QFile::remove(path);
}

void ImageToolOutput::writeResult(DecodedImage image, const ImageProperties& sourceProperties, ImageOutput output,
                                  const QString& path, double quality, const OperationContext& context,
                                  const ImageWork& work)
{
    const ImageProperties properties =
        ImageWriter::destinationProperties(sourceProperties, context.settings.preserveMetadata);
    if (lacksAlpha(output) && image.hasAlpha())
        image = ImageTransforms::flatten(image, alphaBackground(context));
    ImageWork writing = work;
    writing.progress = nullptr;
    ImageWriter::write(image, output, path, properties, quality, writing);
}

} // namespace qv
