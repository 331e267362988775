#pragma once

#include "model/settings/SettingsEnums.h"
#include "model/SharedEnums.h"

#include <QMap>
#include <QSet>
#include <QString>

#include <optional>

namespace qv {

class Settings;

// The rules of the settings tabs that have numbers or words in them, apart from their widgets.

// Stores the wheel's trigger key; a key another wheel uses passes to it the old key of this
// one, so no two wheels share a key ("off" may be shared).
void setTriggerKey(Settings& store, WheelKind wheel, const QString& name);

// "Shift", "Super", "Ctrl", "Alt", "Off": a trigger picker's entry for a stored name.
QString triggerChoiceText(ModifierChoice choice);

// Merges one suffix word into the stored overrides; words equal to the built-in one drop out,
// so typing the default back stores {}.
void saveSuffix(Settings& store, const QString& operation, const QString& word);
// The text of an operation's suffix field: the stored word, even an empty one, else the word
// in force.
QString suffixFieldText(const Settings& store, const QString& operation);
// "removeBackground" -> "Remove background".
QString humanizedOperationName(const QString& name);
// A compressed “photo.jpg” is saved as “photo (compressed).jpg”.
QString suffixExampleLine(const QString& compressWord);

// The path with the home folder as "~".
QString tildePath(const QString& path);

// "Version 5.1.9" from FFmpeg's first "-version" line, "Checking…" before it came, "Missing"
// without the program, "Installed" for a line of another shape.
QString ffmpegStatusText(bool hasFFmpeg, const std::optional<QString>& versionLine);
// "ZIP, TAR, GZ, BZ2, XZ" and "7z", "RAR" where they can be read.
QString archiveListText(const QSet<QString>& formats);
// The acknowledgement sentence for the licence FFmpeg reports with "-L"; nothing known, the
// sentence without a licence name.
QString ffmpegLicenceSentence(const std::optional<QString>& licenceText);

// "Removed 1 item", "Removed 0 items".
QString removedItemsMessage(int count);

// A terminal chosen in the Advanced tab as the user knows it: a .desktop file's Name=, else
// the file's name.
QString terminalDisplayName(const QString& path);

// Jobs the cpu lane may run at once: 1 to the processors.
int maxCpuJobs();

} // namespace qv
