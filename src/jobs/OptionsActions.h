#pragma once

#include "engines/image/foreign/ImageOutput.h"
#include "engines/image/foreign/ImageWriteSupport.h"
#include "jobs/OptionsModel.h"
#include "model/operations/OperationDescriptor.h"

#include <functional>

namespace qv {

class SettingsStore;

// Whether the sheet's title asks for the password twice ("Protect PDF").
bool asksPasswordConfirmation(const QString& title);

// Whether "Apply" is enabled: a sheet with a password row needs a password, and a protecting
// one needs the same text again.
bool canApplyOptions(const QList<OptionField>& fields, const QString& title,
                     const OptionsModel& model);

// Writes the sheet's own values into the options: the split choice when the fields hold
// splitPages, the file order when they hold mergeOrder.
void finalizeOptions(const QList<OptionField>& fields, OptionsModel& model);

// Remembers the options when asked (without per-file values), closes the sheet, then hands the
// options on whole, password and file order included.
void applyOptionsSheet(const OptionsModel& model, const OperationDescriptor& descriptor,
                       const std::function<void()>& close,
                       const std::function<void(const OperationOptions&)>& proceed,
                       SettingsStore& store);
void applyOptionsSheet(const OptionsModel& model, const OperationDescriptor& descriptor,
                       const std::function<void()>& close,
                       const std::function<void(const OperationOptions&)>& proceed);

// The settings' quality for an output: 1.0 for the lossless ones.
double snapshotQualityForOutput(ImageOutput output, const SettingsSnapshot& snapshot);

// The quality the Quality row shows while none is chosen. A compress operation follows the
// first file's format and estimated JPEG quality through the chosen preset; otherwise the
// format named by the last part of the id, else the JPEG quality setting.
OptionsModel::DefaultQuality makeDefaultQuality(const OperationDescriptor& descriptor,
                                                const QList<FileInfo>& files,
                                                const SettingsSnapshot& snapshot,
                                                const ImageWriteSupport& support);
OptionsModel::DefaultQuality makeDefaultQuality(const OperationDescriptor& descriptor,
                                                const QList<FileInfo>& files);

// The header's second line: the single file's name, or "<count> files".
QString optionsSheetSubtitle(const QList<FileInfo>& files);

// The window title: each word capitalised, the rest of it lower case, but for a word written
// in capitals ("convert to PDF" gives "Convert To PDF").
QString optionsSheetWindowTitle(const QString& title);

} // namespace qv
