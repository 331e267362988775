#include "app/actions/QuickActionRules.h"

#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/files/FileInfo.h"
#include "model/files/FileProbe.h"
#include "model/files/NativeFileName.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "platform/files/FileItems.h"
#include "platform/files/InputFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

QString cleanLocalPath(const QUrl& url)
{
    return QDir::cleanPath(url.toLocalFile());
}

// A folder's name as a menu or a toast shows it; the root has none of its own.
QString folderName(const QString& path)
{
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
    return name.isEmpty() ? QDir::cleanPath(path) : name;
}

QString itemCount(qsizetype count, const char* noun)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(noun) + (count == 1 ? "" : "s");
}

bool isPlainInShell(char32_t c)
{
    if (c < 0x80 && QByteArrayView("/._-+,:@%").contains(char(c)))
        return true;
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

// The general escapes of a desktop entry's string values.
QString unescapeValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's': out += QLatin1Char(' '); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case '\\': out += QLatin1Char('\\'); break;
        default: out += QLatin1Char('\\'); out += next; break;
        }
    }
    return out;
}

// Splits an Exec value into arguments: blanks separate, double quotes group, and inside them a
// backslash takes the next character as it is.
QStringList splitExec(const QString& exec)
{
    QStringList arguments;
    QString current;
    bool inQuotes = false;
    bool hasToken = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (inQuotes) {
            if (c == QLatin1Char('"'))
                inQuotes = false;
            else if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current += exec[++i];
            else
                current += c;
        } else if (c == QLatin1Char('"')) {
            inQuotes = hasToken = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (hasToken)
                arguments.append(current);
            current.clear();
            hasToken = false;
        } else {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current += exec[++i];
            else
                current += c;
            hasToken = true;
        }
    }
    if (hasToken)
        arguments.append(current);
    return arguments;
}

// Drops the field codes; a terminal is started with no files.
std::optional<QString> withoutFieldCodes(const QString& argument)
{
    QString out;
    bool codeOnly = true;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument[i] == QLatin1Char('%') && i + 1 < argument.size()) {
            const QChar code = argument[++i];
            if (code == QLatin1Char('%')) {
                out += QLatin1Char('%');
                codeOnly = false;
            }
            continue;
        }
        out += argument[i];
        codeOnly = false;
    }
    if (codeOnly && !argument.isEmpty())
        return std::nullopt;
    return out;
}

} // namespace

QString itemName(const QUrl& url)
{
    return QFileInfo(cleanLocalPath(url)).fileName();
}

QString shellEscapedPath(const QString& path)
{
    bool plain = !path.isEmpty();
    for (char32_t c : path.toUcs4()) {
        if (!isPlainInShell(c)) {
            plain = false;
            break;
        }
    }
    if (plain)
        return path;
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString copiedPathsText(const QList<QUrl>& urls, bool escaped)
{
    QStringList paths;
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        paths.append(escaped ? shellEscapedPath(path) : path);
    }
    return paths.join(QLatin1Char('\n'));
}

QString copyToastText(const QList<QUrl>& urls)
{
    if (urls.size() == 1)
        return QStringLiteral("Copied ") + itemName(urls.first())
               + QStringLiteral(" — paste it in your file manager");
    return QStringLiteral("Copied ") + itemCount(urls.size(), "item");
}

QString copyPathToastText(qsizetype count, bool escaped)
{
    const QString prefix = escaped ? QStringLiteral("Copied escaped ") : QStringLiteral("Copied ");
    return prefix + (count == 1 ? QStringLiteral("path") : itemCount(count, "path"));
}

QString moveToastText(qsizetype moved, const QString& destination)
{
    return QStringLiteral("Moved ") + itemCount(moved, "item") + QStringLiteral(" to ")
        + folderName(destination);
}

QString moveMenuHeader(const QList<QUrl>& urls)
{
    if (urls.size() == 1)
        return QStringLiteral("Move “") + itemName(urls.first()) + QStringLiteral("” to");
    return QStringLiteral("Move ") + itemCount(urls.size(), "item") + QStringLiteral(" to");
}

QString moveChooserMessage(const QList<QUrl>& urls)
{
    return moveMenuHeader(urls) + QLatin1Char(':');
}

QStringList rememberDestination(QStringList stored, const QString& path)
{
    stored.removeAll(path);
    stored.prepend(path);
    if (stored.size() > recentDestinationLimit)
        stored.resize(recentDestinationLimit);
    return stored;
}

QStringList existingDestinations(const QStringList& stored)
{
    QStringList existing;
    for (const QString& path : stored) {
        if (!path.isEmpty() && QFileInfo::exists(path))
            existing.append(path);
    }
    return existing;
}

QList<MenuEntry> moveMenuEntries(const QList<QUrl>& urls, const QStringList& folders)
{
    QList<MenuEntry> entries;
    entries.append({moveMenuHeader(urls), {}, {}, false, false});
    for (const QString& folder : folders.mid(0, recentDestinationsInMenu))
        entries.append({folderName(folder), folder, QStringLiteral("folder"), true, false});
    entries.append(MenuEntry::separator());
    entries.append({chooseFolderTitle, {}, {}, true, false});
    return entries;
}

std::optional<QUrl> moveIntoFolder(const QUrl& item, const QString& folder)
{
    // Its name as text is another file's, which must never be the one moved.
    if (!fileNameIsReadable(item))
        throw EngineError(InputFile::unreadableNameMessage, QString::fromLatin1(item.toEncoded()));
    const QString path = cleanLocalPath(item);
    const QString destination = QDir::cleanPath(folder);
    if (QDir::cleanPath(QFileInfo(path).absolutePath()) == destination)
        return std::nullopt;
    const QString name = QFileInfo(path).fileName();
    if (destination == path || destination.startsWith(path + QLatin1Char('/')))
        throw EngineError(QStringLiteral("“") + name + QStringLiteral("” can't be moved into itself"));
    if (!QFileInfo(destination).isDir())
        throw EngineError(QStringLiteral("The folder “") + folderName(destination)
                          + QStringLiteral("” is no longer there"));
    // Across filesystems the original goes only after its copy is in place: find out first
    // whether it can go at all, rather than leave a copy behind and call it a move.
    const QString parent = QFileInfo(path).absolutePath();
    if (::access(QFile::encodeName(parent).constData(), W_OK) != 0) {
        if (errno == EROFS)
            throw EngineError(QStringLiteral("“") + name + QStringLiteral("” is on a read-only disk"));
        if (errno == EACCES || errno == EPERM)
            throw EngineError(QStringLiteral("No permission to move “") + name
                              + QStringLiteral("” out of its folder"));
    }
    // Across filesystems a folder is copied, then removed: a folder inside that cannot be
    // emptied would leave the original half removed and a whole copy besides.
    struct stat moved {}, target {};
    if (::lstat(QFile::encodeName(path).constData(), &moved) == 0 && S_ISDIR(moved.st_mode)
        && ::stat(QFile::encodeName(destination).constData(), &target) == 0
        && moved.st_dev != target.st_dev) {
        const int error = FileItems::checkRemovable(path);
        if (error == EACCES || error == EPERM)
            throw EngineError(QStringLiteral("No permission to move everything inside “") + name
                              + QStringLiteral("”"));
        if (error == EROFS)
            throw EngineError(QStringLiteral("Items inside “") + name
                              + QStringLiteral("” are on a read-only disk"));
        if (error == EBUSY)
            throw EngineError(QStringLiteral("A disk is mounted inside “") + name + QStringLiteral("”"));
        if (error != 0)
            throw SystemError::fromErrno(error, path);
    }
    // The extension as written: a move never renames beyond what a clash needs.
    const SplitName split = splitFileName(name);
    const QString extension = split.ext.isEmpty() ? QString() : name.right(split.ext.size());
    const QUrl placed = placeResult(QUrl::fromLocalFile(path), QUrl::fromLocalFile(destination),
                                    split.baseName, extension);
    const QFileInfo original(path);
    if (original.exists() || original.isSymLink())
        throw EngineError(QStringLiteral("“") + name + QStringLiteral("” was copied to “")
                          + folderName(destination) + QStringLiteral("” but could not be removed"));
    return placed;
}

QStringList terminalFolders(const QList<QUrl>& urls, const FileProbe& probe)
{
    QStringList folders;
    for (const QUrl& url : urls) {
        const QString path = cleanLocalPath(url);
        const std::optional<ItemStatus> status = probe.status(path);
        const QString folder = status && status->isDirectory && !status->isPackage
            ? path
            : QDir::cleanPath(QFileInfo(path).absolutePath());
        if (!folders.contains(folder))
            folders.append(folder);
    }
    if (folders.size() > terminalWindowLimit)
        folders.resize(terminalWindowLimit);
    return folders;
}

std::optional<ProgramCommand> desktopEntryCommand(const QString& desktopFileText)
{
    bool inEntry = false;
    for (const QString& rawLine : desktopFileText.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || !line.startsWith(QLatin1String("Exec")))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QLatin1String("Exec"))
            continue;
        QStringList arguments;
        for (const QString& argument : splitExec(unescapeValue(line.mid(equals + 1).trimmed()))) {
            if (const std::optional<QString> kept = withoutFieldCodes(argument))
                arguments.append(*kept);
        }
        if (arguments.isEmpty() || arguments.first().isEmpty())
            return std::nullopt;
        return ProgramCommand{arguments.takeFirst(), arguments};
    }
    return std::nullopt;
}

std::optional<ProgramCommand> terminalCommand(const Settings& settings,
                                              const std::function<QString(const QString&)>& findProgram)
{
    const QString chosen = settings.stringValue(SettingsKey::terminalApp).value_or(QString()).trimmed();
    if (!chosen.isEmpty()) {
        const QFileInfo info(chosen);
        if (chosen.endsWith(QLatin1String(".desktop")) && info.isFile()) {
            QFile file(chosen);
            // A desktop entry is a few kilobytes; more is not one.
            if (file.open(QIODevice::ReadOnly)) {
                if (auto command = desktopEntryCommand(QString::fromUtf8(file.read(256 * 1024))))
                    return command;
            }
        } else if (info.isFile() && info.isExecutable()) {
            return ProgramCommand{info.absoluteFilePath(), {}};
        } else if (!chosen.contains(QLatin1Char('/'))) {
            const QString found = findProgram(chosen);
            if (!found.isEmpty())
                return ProgramCommand{found, {}};
        }
    }
    for (const char* name : {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal", "xterm"}) {
        const QString found = findProgram(QString::fromLatin1(name));
        if (!found.isEmpty())
            return ProgramCommand{found, {}};
    }
    return std::nullopt;
}

QList<Device> parseDeviceList(const QString& output)
{
    QList<Device> devices;
    for (const QString& rawLine : output.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        Device device;
        device.id = space < 0 ? line : line.left(space);
        device.name = space < 0 ? line : line.mid(space + 1).trimmed();
        devices.append(device);
        if (devices.size() == 64)
            break;
    }
    return devices;
}

} // namespace qv
