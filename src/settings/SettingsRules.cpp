#include "settings/SettingsRules.h"

#include "model/settings/ModifierGlyph.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "model/settings/SettingsSnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <array>
#include <cmath>

namespace qv {

namespace {

QLatin1String triggerKey(WheelKind wheel)
{
    switch (wheel) {
    case WheelKind::convert: return SettingsKey::triggerConvert;
    case WheelKind::tools: return SettingsKey::triggerTools;
    case WheelKind::actions: return SettingsKey::triggerActions;
    }
    return SettingsKey::triggerConvert;
}

QMap<QString, QString> storedSuffixOverrides(const Settings& store)
{
    QMap<QString, QString> overrides;
    const std::optional<QVariantMap> stored = store.dictionaryValue(SettingsKey::suffixes);
    if (!stored)
        return overrides;
    for (auto it = stored->cbegin(); it != stored->cend(); ++it) {
        if (it.value().typeId() == QMetaType::QString)
            overrides.insert(it.key(), it.value().toString());
    }
    return overrides;
}

} // namespace

void setTriggerKey(Settings& store, WheelKind wheel, const QString& name)
{
    const QString old = store.stringValue(triggerKey(wheel)).value_or(QString());
    store.setValue(triggerKey(wheel), name);
    if (name == toString(ModifierChoice::off))
        return;
    for (WheelKind other : {WheelKind::convert, WheelKind::tools, WheelKind::actions}) {
        if (other != wheel && store.stringValue(triggerKey(other)) == name)
            store.setValue(triggerKey(other), old);
    }
}

QString triggerChoiceText(ModifierChoice choice)
{
    if (choice == ModifierChoice::off)
        return QStringLiteral("Off");
    return modifierGlyph(choice);
}

void saveSuffix(Settings& store, const QString& operation, const QString& word)
{
    QMap<QString, QString> overrides = storedSuffixOverrides(store);
    overrides.insert(operation, word);
    const QMap<QString, QString>& defaults = SettingsSnapshot::defaultSuffixes();
    QVariantMap kept;
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it) {
        const auto builtIn = defaults.constFind(it.key());
        if (builtIn == defaults.cend() || *builtIn != it.value())
            kept.insert(it.key(), it.value());
    }
    store.setValue(SettingsKey::suffixes, kept);
}

QString suffixFieldText(const Settings& store, const QString& operation)
{
    const QMap<QString, QString> overrides = storedSuffixOverrides(store);
    if (const auto it = overrides.constFind(operation); it != overrides.cend())
        return *it;
    return effectiveSuffixes(store).value(operation);
}

QString humanizedOperationName(const QString& name)
{
    static const QRegularExpression boundary(QStringLiteral("([a-z])([A-Z])"));
    QString spaced = name;
    spaced.replace(boundary, QStringLiteral("\\1 \\2"));
    if (spaced.isEmpty())
        return spaced;
    return spaced.left(1).toUpper() + spaced.mid(1).toLower();
}

QString suffixExampleLine(const QString& compressWord)
{
    return QStringLiteral("A compressed \u201Cphoto.jpg\u201D is saved as \u201Cphoto (") + compressWord
        + QStringLiteral(").jpg\u201D.");
}

QString tildePath(const QString& path)
{
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString ffmpegStatusText(bool hasFFmpeg, const std::optional<QString>& versionLine)
{
    if (!hasFFmpeg)
        return QStringLiteral("Missing");
    if (!versionLine)
        return QStringLiteral("Checking\u2026");
    const QStringList pieces = versionLine->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const qsizetype at = pieces.indexOf(QStringLiteral("version"));
    if (at >= 0 && at + 1 < pieces.size()) {
        const QStringList parts = pieces[at + 1].split(QLatin1Char('-'), Qt::SkipEmptyParts);
        if (!parts.isEmpty())
            return QStringLiteral("Version ") + parts.first();
    }
    return QStringLiteral("Installed");
}

QString archiveListText(const QSet<QString>& formats)
{
    QStringList names{QStringLiteral("ZIP"), QStringLiteral("TAR"), QStringLiteral("GZ"),
                      QStringLiteral("BZ2"), QStringLiteral("XZ")};
    if (formats.contains(QStringLiteral("7z")))
        names.append(QStringLiteral("7z"));
    if (formats.contains(QStringLiteral("rar")))
        names.append(QStringLiteral("RAR"));
    return names.join(QStringLiteral(", "));
}

QString ffmpegLicenceSentence(const std::optional<QString>& licenceText)
{
    const QString tail = QStringLiteral(
        "It runs as a separate program; its license is shown under \u201CLicense and Sources\u2026\u201D.");
    if (!licenceText)
        return QStringLiteral("FFmpeg is not installed on this computer. ") + tail;
    const QString text = licenceText->simplified();
    QString licence;
    if (text.contains(QStringLiteral("Lesser General Public License")))
        licence = QStringLiteral("GNU LGPL");
    else if (text.contains(QStringLiteral("General Public License")))
        licence = QStringLiteral("GNU GPL");
    if (licence.isEmpty())
        return QStringLiteral("The FFmpeg on this computer carries its own license. ") + tail;
    static const QRegularExpression versionPattern(
        QStringLiteral("version (\\d+(?:\\.\\d+)?) of the License"));
    if (const auto match = versionPattern.match(text); match.hasMatch())
        licence += QLatin1Char(' ') + match.captured(1);
    if (text.contains(QStringLiteral("any later version")))
        licence += QStringLiteral(" or later");
    QString sentence = QStringLiteral("The FFmpeg on this computer is licensed under the ") + licence;
    if (text.contains(QStringLiteral("nonfree")))
        sentence += QStringLiteral(" and has non-free parts");
    return sentence + QStringLiteral(". ") + tail;
}

QString removedItemsMessage(int count)
{
    return QStringLiteral("Removed ") + QString::number(count)
        + (count == 1 ? QStringLiteral(" item") : QStringLiteral(" items"));
}

QString terminalDisplayName(const QString& path)
{
    const QFileInfo info(path);
    if (path.endsWith(QLatin1String(".desktop"))) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            // Only the main group's Name=; a desktop file is small, but read a bounded amount.
            bool inMainGroup = false;
            int lines = 0;
            while (!file.atEnd() && ++lines < 2000) {
                const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
                if (line.startsWith(QLatin1Char('['))) {
                    inMainGroup = line == QLatin1String("[Desktop Entry]");
                    continue;
                }
                if (inMainGroup && line.startsWith(QLatin1String("Name="))) {
                    const QString name = line.mid(5).trimmed();
                    if (!name.isEmpty())
                        return name;
                }
            }
        }
        return info.completeBaseName();
    }
    return info.fileName();
}

int maxCpuJobs()
{
    return std::max(1, QThread::idealThreadCount());
}

} // namespace qv
