#include "model/settings/SettingsDefaults.h"

#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"

#include <QLocale>
#include <QThread>

#include <algorithm>

#include <unistd.h>

namespace qv {

PageSizeChoice localePageSize()
{
    return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem
        ? PageSizeChoice::letter
        : PageSizeChoice::a4;
}

int defaultCpuJobs(int processors, qint64 physicalBytes)
{
    // Workers run at background priority (nice 10, SCHED_BATCH, idle I/O), so every processor
    // can take an item and the user's own programs still come first; a machine short of memory
    // gets a lane for each half gigabyte it has.
    int lanes = std::max(1, processors);
    if (physicalBytes > 0)
        lanes = int(std::min<qint64>(lanes, std::max<qint64>(1, physicalBytes / (qint64(512) << 20))));
    return lanes;
}

int defaultCpuJobs()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    return defaultCpuJobs(QThread::idealThreadCount(), pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0);
}

QList<QPair<QString, QVariant>> defaultSettings()
{
    namespace K = SettingsKey;
    auto text = [](const char* value) { return QVariant(QString::fromLatin1(value)); };
    return {
        {K::triggerConvert, text("shift")},
        {K::triggerTools, text("command")},
        {K::triggerActions, text("control")},
        {K::keyboardWhileDragging, false},
        {K::dragStripEdge, text("right")},
        {K::dragStripDwell, 0.6},
        {K::accentColor, text("#4C6EF5")},
        {K::wheelSize, text("medium")},
        {K::sounds, true},
        {K::showHUD, true},
        {K::paused, false},
        {K::outputLocation, text("besideOriginal")},
        {K::preserveMetadata, true},
        {K::preserveDates, false},
        {K::openResult, false},
        {K::revealResult, false},
        {K::jpegQuality, 0.85},
        {K::heicQuality, 0.8},
        {K::webpQuality, 85},
        {K::avifQuality, 70},
        {K::imageMaxDimension, 0},
        {K::alphaBackground, text("#FFFFFF")},
        {K::videoCodec, text("h264")},
        {K::videoPreset, text("medium")},
        {K::videoMaxResolution, 0},
        {K::videoAudioBitrate, 160},
        {K::hardwareEncoding, true},
        {K::mp3Bitrate, 192},
        {K::aacBitrate, 192},
        {K::sampleRate, 0},
        {K::pdfDPI, 300.0},
        {K::pdfCompression, text("medium")},
        {K::pageSize, toString(localePageSize())},
        {K::cpuJobs, defaultCpuJobs()},
        {K::videoJobs, 1},
        {K::audioJobs, 2},
    };
}

void registerDefaultSettings(Settings& store)
{
    QVariantMap defaults;
    for (const auto& [key, value] : defaultSettings())
        defaults.insert(key, value);
    store.registerDefaults(defaults);
}

void registerDefaultSettings()
{
    registerDefaultSettings(Settings::shared());
}

} // namespace qv
