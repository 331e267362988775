// The settings file as SettingsStore reads (and then saves) it, and an export file through
// importSettingsBytes, as the Advanced tab's import does.
#include "FuzzSupport.h"

#include "platform/settings/SettingsStore.h"
#include "settings/SettingsTransfer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes = qvfuzz::bytesOf(data + 1, size - 1);
    if (data[0] & 1) {
        qv::SettingsStore store(QString{});
        (void)qv::importSettingsBytes(store, bytes);
        (void)qv::settingsExportBytes(store);
        return 0;
    }
    const QString path = qvfuzz::writeScratchFile(QStringLiteral("settings.json"), bytes);
    {
        qv::SettingsStore store(path);
        for (const QString& key : store.allKeys())
            (void)store.value(key);
        // A write makes the store merge onto the file and save it (keeping a damaged one aside).
        store.setValue(QStringLiteral("fuzzProbe"), 1);
        (void)store.flush();
    }
    qvfuzz::clearScratch();
    return 0;
}
