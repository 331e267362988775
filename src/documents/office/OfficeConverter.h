#pragma once

#include "model/files/FileCategory.h"

#include <QHash>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>
#include <stop_token>

namespace qv {

// Conversions only an office program can do. Here that is LibreOffice, run headless with a
// throw-away profile; Pages, Numbers and Keynote do not exist on this system.
class OfficeConverter {
public:
    OfficeConverter() = delete;

    // Target extension to the value of --convert-to.
    static const QHash<QString, QString>& libreOfficeFilters();

    static bool libreOfficeCanWrite(const QString& target, const std::optional<QString>& sourceExtension = std::nullopt);
    static bool canConvertOfficeDocument(const QString& target, FileCategory category,
                                         const std::optional<QString>& sourceExtension = std::nullopt);

    // Leaves the converted file at output. Throws EngineError ("Install <App> or LibreOffice to
    // convert to <TARGET>" and LibreOffice's messages), SystemError, CancellationError.
    static void convertOfficeDocument(const QUrl& input, const QUrl& output, const QString& target,
                                      FileCategory category, std::stop_token stop);

    // inputFilter names the import filter when LibreOffice's own choice is not the one wanted
    // (a PDF opened as slides is "impress_pdf_import").
    static void convertWithLibreOffice(const QUrl& input, const QUrl& output, const QString& target,
                                       std::stop_token stop, const QString& inputFilter = {});

    // A run that takes longer is stopped and fails.
    static std::chrono::seconds timeLimit;
    // Runs going on at once in the whole process.
    static constexpr int maximumRuns = 2;
    // Runs of LibreOffice going on right now, for tests.
    static int runningCount();
};

} // namespace qv
