#pragma once

#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsSnapshot.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QVariant>

namespace qv {

// One entry of a fixed choice list: the text shown and the value stored when it is picked.
struct OptionChoice {
    QString text;
    QVariant value;
    bool dividerBefore = false;
};

QList<OptionChoice> maxDimensionChoices();
QList<OptionChoice> resizeChoices();
QList<OptionChoice> qualityPresetChoices();
QList<OptionChoice> videoCodecChoices();
QList<OptionChoice> resolutionChoices();
QList<OptionChoice> audioBitrateChoices();
QList<OptionChoice> sampleRateChoices();
QList<OptionChoice> pdfCompressionChoices();
QList<OptionChoice> dpiChoices();
QList<OptionChoice> pageSizeChoices();
QList<OptionChoice> splitModeChoices();
QList<OptionChoice> splitPartsChoices();
QList<OptionChoice> rotationChoices();
QList<OptionChoice> speedChoices();
QList<OptionChoice> mergeLayoutChoices();

// A number in its shortest form, as printf's "%g" gives it (22.05, 32, 0.25).
QString shortNumberText(double value);

// The slider's label: the quality as a whole percentage, halves away from zero ("85 %").
QString qualityPercentText(double quality);

// The resize row's one value over two fields: negative for a percentage, positive for pixels.
int resizeSelection(const OperationOptions& options);
void setResizeSelection(OperationOptions& options, int value);

// The equal-parts row: n for a split into n parts, else 2.
int splitPartsSelection(const OperationOptions& options);

// The "Blurred photo" toggle: on only for exactly "blur"; off stores white.
bool blurSelection(const std::optional<QString>& field);
QString blurSelectionValue(bool on);

// The colour well: the field's colour, else the settings' background, else white.
QColor colorSelection(const std::optional<QString>& field, const SettingsSnapshot& snapshot);

// Height of the merge-order list: 26 points per file and 8, at most 220.
int mergeOrderListHeight(int fileCount);

} // namespace qv
