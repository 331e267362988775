#include "model/SettingsSnapshot.h"

#include "model/SettingsDefaults.h"
#include "model/SettingsKeys.h"
#include "model/SettingsReaders.h"
#include "model/Settings.h"

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

    snapshot.saveLocation = text(K::outputLocation) == QLatin1String("folder")
        ? SaveLocation::folder
        : SaveLocation::besideOriginal;
    snapshot.outputFolder = folderUrlFromSetting(text(K::outputFolder));
    snapshot.fallbackFolder = defaultFallbackFolder(store);
    snapshot.suffixes = effectiveSuffixes(store);
    read(K::preserveMetadata, snapshot.preserveMetadata);
    read(K::preserveDates, snapshot.preserveDates);
    read(K::jpegQuality, snapshot.jpegQuality);
    read(K::heicQuality, snapshot.heicQuality);
    read(K::webpQuality, snapshot.webpQuality);
    read(K::avifQuality, snapshot.avifQuality);
    read(K::imageMaxDimension, snapshot.imageMaxDimension);
    if (const auto background = store.stringValue(K::alphaBackground))
        snapshot.alphaBackground = *background;
    snapshot.videoCodec = text(K::videoCodec) == QLatin1String("hevc") ? VideoCodecChoice::hevc
                                                                        : VideoCodecChoice::h264;
    snapshot.videoPreset =
        enumFromString<QualityPreset>(text(K::videoPreset)).value_or(QualityPreset::medium);
    read(K::videoMaxResolution, snapshot.videoMaxResolution);
    read(K::videoAudioBitrate, snapshot.videoAudioBitrate);
    read(K::hardwareEncoding, snapshot.hardwareEncoding);
    read(K::mp3Bitrate, snapshot.mp3Bitrate);
    read(K::aacBitrate, snapshot.aacBitrate);
    read(K::sampleRate, snapshot.sampleRate);
    read(K::pdfDPI, snapshot.pdfDPI);
    snapshot.pdfCompression = enumFromString<PDFCompressionLevel>(text(K::pdfCompression))
                                  .value_or(PDFCompressionLevel::medium);
    snapshot.pageSize =
        enumFromString<PageSizeChoice>(text(K::pageSize)).value_or(localePageSize());
    read(K::cpuJobs, snapshot.cpuJobs);
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
