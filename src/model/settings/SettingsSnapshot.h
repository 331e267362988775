#pragma once

#include "model/settings/SettingsEnums.h"

#include <QMap>
#include <QUrl>

#include <optional>

namespace qv {

class Settings;

// A value copy of the output and quality settings, taken when a job starts and never changed
// under it. Default-constructed, it holds the built-in values.
struct SettingsSnapshot {
    SaveLocation saveLocation = SaveLocation::besideOriginal;
    std::optional<QUrl> outputFolder;
    QUrl fallbackFolder = builtInFallbackFolder();
    QMap<QString, QString> suffixes = defaultSuffixes();
    bool preserveMetadata = true;
    bool preserveDates = false;
    double jpegQuality = 0.85;
    double heicQuality = 0.8;
    int webpQuality = 85;
    int avifQuality = 70;
    int imageMaxDimension = 0;
    QString alphaBackground = QStringLiteral("#FFFFFF");
    VideoCodecChoice videoCodec = VideoCodecChoice::h264;
    QualityPreset videoPreset = QualityPreset::medium;
    int videoMaxResolution = 0;
    int videoAudioBitrate = 160;
    bool hardwareEncoding = true;
    int mp3Bitrate = 192;
    int aacBitrate = 192;
    int sampleRate = 0;
    double pdfDPI = 300.0;
    PDFCompressionLevel pdfCompression = PDFCompressionLevel::medium;
    PageSizeChoice pageSize = PageSizeChoice::a4;
    // How many items of a batch run at once on the CPU lane and the memory they share, in
    // bytes; 0 when unknown.
    int cpuJobs = 0;
    qint64 batchMemoryBytes = 0;

    bool operator==(const SettingsSnapshot&) const = default;

    // Reads every field from the store.
    static SettingsSnapshot load(const Settings& store);
    static SettingsSnapshot load();

    // The suffix word that names results of an operation ("compress" -> "compressed"); the
    // name itself when no table has it.
    QString suffixForOperation(const QString& operationName) const;

    // The 31 built-in suffix words by operation name.
    static const QMap<QString, QString>& defaultSuffixes();

private:
    static QUrl builtInFallbackFolder();
};

} // namespace qv
