#pragma once

#include "engines/image/DecodedImage.h"
#include "engines/image/foreign/ImageOutput.h"
#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/JobNotes.h"
#include "model/operations/OperationContext.h"

#include <QColor>
#include <QString>
#include <QUrl>

#include <optional>

namespace qv {

// How the image tools name, place and report their results: "photo (rotated).jpeg" beside
// the original, never over anything.
class ImageToolOutput {
public:
    ImageToolOutput() = delete;

    // The source's base name, then " (suffix)" unless the operation's suffix is empty.
    static QString baseName(const ImageWork& work, const SettingsSnapshot& settings, const QString& operation);

    // Places the finished work file as baseName(...).extension; its URL.
    static QUrl deliver(const ImageWork& work, const QUrl& file, const SettingsSnapshot& settings,
                        const QString& operation, const QString& extension);

    // The file's format id; empty when it has none.
    static QString formatId(const FileInfo& file);

    // The whole percent saved, truncated; none unless the result is smaller and both sizes known.
    static std::optional<int> savedPercent(qint64 before, qint64 after);

    // "N % smaller".
    static QString savingNote(int percent);

    // Appends the note when the result saved anything, from the two files' sizes.
    static void noteSaving(const OperationContext& context, qint64 before, const QString& resultPath);

    // The option alphaBackground, else the setting; white when neither reads as a colour.
    static QColor alphaBackground(const OperationContext& context);

    // The setting alone, as compression reads it.
    static QColor settingsAlphaBackground(const SettingsSnapshot& settings);

    // Writes a picture made from the source: the source's properties as the settings keep them,
    // flattened onto alphaBackground when the output has no alpha; no progress of its own.
    static void writeResult(DecodedImage image, const ImageProperties& sourceProperties, ImageOutput output,
                            const QString& path, double quality, const OperationContext& context,
                            const ImageWork& work);

    // Removes a work file when a step throws before it is placed.
    struct WorkFileGuard {
        QString path;
        bool kept = false;
        ~WorkFileGuard();
    };
};

} // namespace qv
