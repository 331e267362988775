#pragma once

#include "catalogue/OperationFactories.h"
#include "model/operations/OperationDescriptor.h"

#include <QSet>

namespace qv {

// What a category list supplies for one conversion; the rest is the same for all of them.
struct ConversionRecipe {
    QList<FileCategory> categories; // the first names the id: "convert.<category>.<target>"
    QString target;                 // "webp", "tar.gz", "hevc"; also the group
    QString title;                  // the display text, as a rule the target in capitals
    std::optional<QString> outputExtension; // when it is not the target itself (hevc: mp4)
    EngineID engine;
    JobLane lane = JobLane::cpu;
    MultiFileMode multiFile = MultiFileMode::each;
    bool asksForOptions = false; // shows the options sheet before running
    std::optional<QSet<QString>> requiredFormats;
    OperationDescriptor::AcceptTest extraTest; // empty: every file
    QList<OptionField> optionFields;
    OperationBody run;
};

OperationDescriptor makeConversionDescriptor(const ConversionRecipe& recipe);

// Format ids that already are the target, so the conversion is not offered for them.
QSet<QString> sameFormatIDs(const QString& target);

// Not offered for a file already in the target (its format id, else its extension); with
// required formats, only for a file whose format id is one of them; then the list's own test.
bool conversionAccepts(const FileInfo& file, const QSet<QString>& alreadyIDs,
                       const std::optional<QSet<QString>>& requiredIDs,
                       const OperationDescriptor::AcceptTest& extra);

} // namespace qv
