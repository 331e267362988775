#include "catalogue/SystemServices.h"

#include "catalogue/archives/ArchiveProbe.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/ImageTypes.h"
#include "engines/image/VipsLibrary.h"
#include "engines/media/MediaCategory.h"
#include "engines/pdf/PdfLock.h"
#include "engines/vision/VisionEngine.h"
#include "model/operations/Capabilities.h"
#include "platform/files/LocalFileProbe.h"
#include "platform/settings/SettingsStore.h"

#include <QFile>

#include <atomic>
#include <mutex>

namespace qv {

namespace {

std::atomic<bool> imageTypesFromWorkers = false;

QSet<QString> imageFormatIds(bool writable)
{
    // A worker that cannot answer leaves the question to this process, as before isolation.
    if (imageTypesFromWorkers)
        if (std::optional<QSet<QString>> ids = IsolatedReading::imageFormatIds(writable))
            return *ids;
    return writable ? vipsWritableFormatIds() : vipsReadableFormatIds();
}

Capabilities::Lookups systemLookups()
{
    Capabilities::Lookups lookups = Capabilities::Lookups::basic();
    lookups.readableImageFormatIds = [] { return imageFormatIds(false); };
    lookups.writableImageFormatIds = [] { return imageFormatIds(true); };
    lookups.probeResource = [](const QString& name) -> std::optional<QByteArray> {
        QFile file(QStringLiteral(":/probes/") + name);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    };
    lookups.listArchive = listArchiveInMemory;
    lookups.hasTextRecognitionData = [] { return VisionEngine::textDataFolder().has_value(); };
    lookups.canLiftSubjects = VisionEngine::canLiftSubjects;
    lookups.hasImageLibrary = VipsLibrary::isPresent;
    return lookups;
}

LocalFileProbe::ContentProbes contentProbes(std::function<std::optional<MediaStreams>(const QString&)> media)
{
    return {IsolatedReading::pdfNeedsPassword, IsolatedReading::frameCount, std::move(media), IsolatedReading::lookAhead};
}

} // namespace

void installSystemServices()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Settings::installShared(SettingsStore::shared());
        // Never destroyed: files may be described on worker threads until the process ends.
        static const LocalFileProbe* const probe =
            new LocalFileProbe(contentProbes([](const QString& path) { return mediaStreamsOfFile(path); }));
        FileProbe::installSystem(*probe);
        // The application's look at a media file is a worker's, which reads it without an FFmpeg start.
        setMediaStreamsReader(IsolatedReading::mediaStreams);
        Capabilities::installSystemLookups(systemLookups);
    });
}

void askWorkersForImageTypes()
{
    imageTypesFromWorkers = true;
}

const FileProbe& probeWithoutWaiting()
{
    static const LocalFileProbe* const probe = new LocalFileProbe(contentProbes(rememberedMediaStreams));
    return *probe;
}

} // namespace qv
