#pragma once

#include "platform/desktop/MenuPresenter.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace qv {

class FileProbe;
class Settings;

// The texts, lists and decisions of the quick actions, apart from the windows and programs
// they end in.

// The item's own name; a folder's URL may end in "/".
QString itemName(const QUrl& url);

// The path as a shell reads it back: unchanged when it is made only of letters, marks, digits
// and "/._-+,:@%", else in single quotes with each quote written '\''.
QString shellEscapedPath(const QString& path);
QString copiedPathsText(const QList<QUrl>& urls, bool escaped);

QString copyToastText(const QList<QUrl>& urls);
QString copyPathToastText(qsizetype count, bool escaped);
QString moveToastText(qsizetype moved, const QString& destination);
// "Move “a.txt” to" above the menu; the chooser's message adds a colon.
QString moveMenuHeader(const QList<QUrl>& urls);
QString moveChooserMessage(const QList<QUrl>& urls);

inline constexpr qsizetype recentDestinationLimit = 10;
inline constexpr qsizetype recentDestinationsInMenu = 8;
inline const QString chooseFolderTitle = QStringLiteral("Choose Folder…");

// The stored list with the path moved to its front, without duplicates, at most ten long.
QStringList rememberDestination(QStringList stored, const QString& path);
// The remembered folders that still exist, in stored order.
QStringList existingDestinations(const QStringList& stored);
// The header, the first eight folders, a separator and "Choose Folder…".
QList<MenuEntry> moveMenuEntries(const QList<QUrl>& urls, const QStringList& folders);

// Moves one item into the folder under its own name, " 2", " 3"... before its extension when
// that is taken. Nothing when the item already lies in that folder. Throws what placing throws,
// and EngineError for a folder moved into itself.
std::optional<QUrl> moveIntoFolder(const QUrl& item, const QString& folder);

// The folders a terminal opens in: each folder itself, each file's (or package's) parent, once
// each, the first five.
inline constexpr qsizetype terminalWindowLimit = 5;
QStringList terminalFolders(const QList<QUrl>& urls, const FileProbe& probe);

struct ProgramCommand {
    QString program;
    QStringList arguments;
};

// The command line of a desktop entry's Exec key, field codes dropped; nothing when the file
// has none that can be read.
std::optional<ProgramCommand> desktopEntryCommand(const QString& desktopFileText);

// The terminal chosen in the settings (a program or a .desktop file), else the first of the
// usual ones that findProgram finds.
std::optional<ProgramCommand> terminalCommand(const Settings& settings,
                                              const std::function<QString(const QString&)>& findProgram);

struct Device {
    QString id;
    QString name;

    bool operator==(const Device&) const = default;
};

// "ID NAME" lines; at most 64 devices.
QList<Device> parseDeviceList(const QString& output);

} // namespace qv
