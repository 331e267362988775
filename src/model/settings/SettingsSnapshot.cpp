#include "model/settings/SettingsSnapshot.h"

#include "model/settings/Settings.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"

#include <QDir>

#include <type_traits>

#include <unistd.h>

namespace qv {

const QMap<QString, QString>& SettingsSnapshot::defaultSuffixes()
{
    static const QMap<QString, QString> table = [] {
        static const char* const rows[][2] = {
            {"compress", "compressed"},
            {"resize", "resized"},
            {"crop", "cropped"},
            {"rotate", "rotated"},
            {"flip", "flipped"},
            {"removeBackground", "no background"},
            {"addBackground", "background"},
            {"removeMetadata", "no metadata"},
            {"edit", "edited"},
            {"annotate", "annotated"},
            {"trim", "trimmed"},
            {"mute", "muted"},
            {"speed", "speed"},
            {"snapshot", "snapshot"},
            {"merge", "merged"},
            {"normalize", "normalized"},
            {"fade", "faded"},
            {"mono", "mono"},
            {"sampleRate", "resampled"},
            {"reverse", "reversed"},
            {"protect", "protected"},
            {"unlock", "unlocked"},
            {"redact", "redacted"},
            {"ocr", "searchable"},
            {"reorder", "reordered"},
            {"extractPages", "pages"},
            {"shift", "shifted"},
            {"flatten", "flattened"},
            {"extractText", "text"},
            {"split", "parts"},
            {"ringtone", "ringtone"},
        };
        QMap<QString, QString> map;
        for (const auto& row : rows)
            map.insert(QString::fromLatin1(row[0]), QString::fromLatin1(row[1]));
        return map;
    }();
    return table;
}

QString SettingsSnapshot::suffixForOperation(const QString& operationName) const
{
    if (const auto it = suffixes.constFind(operationName); it != suffixes.constEnd())
        return *it;
    return defaultSuffixes().value(operationName, operationName);
}

QUrl SettingsSnapshot::builtInFallbackFolder()
{
    return QUrl::fromLocalFile(QDir::tempPath() + QLatin1Char('/'));
}

SettingsSnapshot SettingsSnapshot::load(const Settings& store)
{
    namespace K = SettingsKey;
    SettingsSnapshot snapshot;
    // A key with neither a stored nor a registered value keeps the built-in value.
    auto read = [&store](QLatin1String key, auto& field) {
        if (!store.value(key).isValid())
            return;
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, bool>)
            field = store.boolValue(key);
        else if constexpr (std::is_same_v<Field, int>)
            field = store.intValue(key);
        else
            field = store.doubleValue(key);
    };
    auto text = [&store](QLatin1String key) { return store.stringValue(key).value_or(QString()); };
    // A number no choice offers (a hand-edited or imported file's -192 kbps) keeps the built-in
    // value, so no job is sent to fail on it; 0 is "keep the original" where allowed.
    auto ranged = [&read](QLatin1String key, auto& field, double lowest, double highest, bool zeroKeeps = false) {
        auto value = field;
        read(key, value);
        if ((value >= lowest && value <= highest) || (zeroKeeps && value == 0))
            field = value;
    };

    snapshot.saveLocation = text(K::outputLocation) == QLatin1String("folder")
        ? SaveLocation::folder
        : SaveLocation::besideOriginal;
    snapshot.outputFolder = folderUrlFromSetting(text(K::outputFolder));
    snapshot.fallbackFolder = defaultFallbackFolder(store);
    snapshot.suffixes = effectiveSuffixes(store);
    read(K::preserveMetadata, snapshot.preserveMetadata);
    read(K::preserveDates, snapshot.preserveDates);
    ranged(K::jpegQuality, snapshot.jpegQuality, 0.01, 1.0);
    ranged(K::heicQuality, snapshot.heicQuality, 0.01, 1.0);
    ranged(K::webpQuality, snapshot.webpQuality, 1, 100);
    ranged(K::avifQuality, snapshot.avifQuality, 1, 100);
    ranged(K::imageMaxDimension, snapshot.imageMaxDimension, 16, 65535, true);
    if (const auto background = store.stringValue(K::alphaBackground))
        snapshot.alphaBackground = *background;
    snapshot.videoCodec = text(K::videoCodec) == QLatin1String("hevc") ? VideoCodecChoice::hevc
                                                                        : VideoCodecChoice::h264;
    snapshot.videoPreset =
        enumFromString<QualityPreset>(text(K::videoPreset)).value_or(QualityPreset::medium);
    ranged(K::videoMaxResolution, snapshot.videoMaxResolution, 16, 16384, true);
    ranged(K::videoAudioBitrate, snapshot.videoAudioBitrate, 8, 512);
    read(K::hardwareEncoding, snapshot.hardwareEncoding);
    ranged(K::mp3Bitrate, snapshot.mp3Bitrate, 8, 320);
    ranged(K::aacBitrate, snapshot.aacBitrate, 8, 512);
    ranged(K::sampleRate, snapshot.sampleRate, 8000, 384000, true);
    ranged(K::pdfDPI, snapshot.pdfDPI, 18, 2400);
    snapshot.pdfCompression = enumFromString<PDFCompressionLevel>(text(K::pdfCompression))
                                  .value_or(PDFCompressionLevel::medium);
    snapshot.pageSize =
        enumFromString<PageSizeChoice>(text(K::pageSize)).value_or(localePageSize());
    ranged(K::cpuJobs, snapshot.cpuJobs, 0, 1024);
    int megabytes = 0;
    read(K::batchMemory, megabytes);
    // As the job center reads it: below 256 MB, a quarter of the physical memory.
    if (megabytes >= 256) {
        snapshot.batchMemoryBytes = qint64(megabytes) << 20;
    } else {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGE_SIZE);
        snapshot.batchMemoryBytes = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize / 4 : qint64(1) << 30;
    }
    return snapshot;
}

SettingsSnapshot SettingsSnapshot::load()
{
    return load(Settings::shared());
}

} // namespace qv
