#pragma once

#include <QByteArray>
#include <QString>

namespace qv {

class Settings;

// What an export or an import did, in the words the Advanced tab shows.
struct SettingsTransferResult {
    bool ok = false;
    QString message;
};

// The export file of the store's settings (registered defaults included): one JSON object,
// a member a line, keys in byte order, data values as {"$data": base64}. count gets the number
// of members.
QByteArray settingsExportBytes(const Settings& store, int* count = nullptr);

// Writes the export to path. The old file there is replaced only once every byte of the new
// one is on disk; on any failure it stays as it was and no temporary file is left.
SettingsTransferResult exportSettingsFile(const Settings& store, const QString& path);

// Stores the exportable members of an export file over the current settings. A file that is
// not a JSON object changes nothing.
SettingsTransferResult importSettingsFile(Settings& store, const QString& path);
// The same for the file's bytes.
SettingsTransferResult importSettingsBytes(Settings& store, const QByteArray& bytes);

// The largest file an import reads.
inline constexpr qint64 maxSettingsImportBytes = 64 * 1024 * 1024;

} // namespace qv
