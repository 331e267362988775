#include "jobs/OptionChoices.h"

#include "model/operations/HexColor.h"
#include "model/operations/MergeLayout.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

QList<OptionChoice> intUnitChoices(const QList<int>& values, const QString& suffix)
{
    QList<OptionChoice> choices;
    for (int value : values)
        choices.append({QString::number(value) + suffix, value});
    return choices;
}

QList<OptionChoice> originalThenChoices(const QList<OptionChoice>& choices)
{
    return QList<OptionChoice>{{QStringLiteral("Original"), 0}} + choices;
}

template <typename E>
QVariant caseValue(E value)
{
    return toString(value);
}

} // namespace

QList<OptionChoice> maxDimensionChoices()
{
    return originalThenChoices(
        intUnitChoices({4096, 2560, 1920, 1280, 1024, 640}, QStringLiteral(" px max")));
}

QList<OptionChoice> resizeChoices()
{
    QList<OptionChoice> choices;
    for (int percent : {25, 50, 75})
        choices.append({QString::number(percent) + QStringLiteral(" %"), -percent});
    QList<OptionChoice> pixels =
        intUnitChoices({3840, 2560, 1920, 1280, 1024, 800, 512}, QStringLiteral(" px (longest side)"));
    pixels.first().dividerBefore = true;
    return choices + pixels;
}

QList<OptionChoice> qualityPresetChoices()
{
    return {{QStringLiteral("Smaller file"), caseValue(QualityPreset::small)},
            {QStringLiteral("Balanced"), caseValue(QualityPreset::medium)},
            {QStringLiteral("Best quality"), caseValue(QualityPreset::high)}};
}

QList<OptionChoice> videoCodecChoices()
{
    return {{QStringLiteral("H.264 (most compatible)"), caseValue(VideoCodecChoice::h264)},
            {QStringLiteral("HEVC (smaller files)"), caseValue(VideoCodecChoice::hevc)}};
}

QList<OptionChoice> resolutionChoices()
{
    return originalThenChoices(intUnitChoices({2160, 1440, 1080, 720, 480}, QStringLiteral("p")));
}

QList<OptionChoice> audioBitrateChoices()
{
    return intUnitChoices({96, 128, 160, 192, 256, 320}, QStringLiteral(" kbps"));
}

QList<OptionChoice> sampleRateChoices()
{
    QList<OptionChoice> choices;
    for (int rate : {22050, 32000, 44100, 48000, 96000})
        choices.append({shortNumberText(rate / 1000.0) + QStringLiteral(" kHz"), rate});
    return originalThenChoices(choices);
}

QList<OptionChoice> pdfCompressionChoices()
{
    return {{QStringLiteral("Light (200 dpi images)"), caseValue(PDFCompressionLevel::low)},
            {QStringLiteral("Medium (150 dpi images)"), caseValue(PDFCompressionLevel::medium)},
            {QStringLiteral("Strong (100 dpi images)"), caseValue(PDFCompressionLevel::high)}};
}

QList<OptionChoice> dpiChoices()
{
    QList<OptionChoice> choices;
    for (double dpi : {72.0, 150.0, 200.0, 300.0, 600.0})
        choices.append({QString::number(qint64(dpi)) + QStringLiteral(" dpi"), dpi});
    return choices;
}

QList<OptionChoice> pageSizeChoices()
{
    return {{QStringLiteral("A4"), caseValue(PageSizeChoice::a4)},
            {QStringLiteral("US Letter"), caseValue(PageSizeChoice::letter)}};
}

QList<OptionChoice> splitModeChoices()
{
    return {{QStringLiteral("Every page"), 0},
            {QStringLiteral("Every N pages"), 1},
            {QStringLiteral("Page ranges"), 2}};
}

QList<OptionChoice> splitPartsChoices()
{
    QList<OptionChoice> choices;
    for (int n = 2; n <= 10; ++n)
        choices.append({QString::number(n) + QStringLiteral(" equal parts"), n});
    return choices;
}

QList<OptionChoice> rotationChoices()
{
    return {{QStringLiteral("90° right"), 90},
            {QStringLiteral("180°"), 180},
            {QStringLiteral("90° left"), 270},
            {QStringLiteral("None"), 0}};
}

QList<OptionChoice> speedChoices()
{
    QList<OptionChoice> choices;
    for (double speed : {0.25, 0.5, 0.75, 1.25, 1.5, 2.0, 3.0, 4.0})
        choices.append({shortNumberText(speed) + QStringLiteral("×"), speed});
    return choices;
}

QList<OptionChoice> mergeLayoutChoices()
{
    return {{QStringLiteral("Side by side"), caseValue(MergeLayout::horizontal)},
            {QStringLiteral("Stacked vertically"), caseValue(MergeLayout::vertical)}};
}

QString shortNumberText(double value)
{
    return QString::asprintf("%g", value);
}

QString qualityPercentText(double quality)
{
    return QString::number(qint64(std::round(quality * 100.0))) + QStringLiteral(" %");
}

int resizeSelection(const OperationOptions& options)
{
    if (options.maxDimension)
        return *options.maxDimension;
    if (options.resizeScale)
        return -int(std::round(*options.resizeScale * 100.0));
    return -50;
}

void setResizeSelection(OperationOptions& options, int value)
{
    if (value < 0) {
        options.resizeScale = -value / 100.0;
        options.maxDimension.reset();
    } else {
        options.maxDimension = value;
        options.resizeScale.reset();
    }
}

int splitPartsSelection(const OperationOptions& options)
{
    if (options.split) {
        if (const auto* parts = options.split->get<SplitMode::Parts>())
            return parts->count;
    }
    return 2;
}

bool blurSelection(const std::optional<QString>& field)
{
    return field && *field == QLatin1String("blur");
}

QString blurSelectionValue(bool on)
{
    return on ? QStringLiteral("blur") : QStringLiteral("#FFFFFF");
}

QColor colorSelection(const std::optional<QString>& field, const SettingsSnapshot& snapshot)
{
    return colorFromHex(field.value_or(snapshot.alphaBackground)).value_or(QColor(Qt::white));
}

int mergeOrderListHeight(int fileCount)
{
    return std::min(26 * fileCount + 8, 220);
}

} // namespace qv
