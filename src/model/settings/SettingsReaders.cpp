#include "model/settings/SettingsReaders.h"

#include "model/operations/HexColor.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsSnapshot.h"

#include <QDir>
#include <QStandardPaths>

namespace qv {

namespace {

bool isBlank(const QString& text)
{
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t'))
            return false;
    }
    return true;
}

bool isUsableSuffixWord(const QString& word)
{
    return !isBlank(word) && !word.contains(QLatin1Char('/')) && !word.contains(QChar(u'\0'));
}

QUrl directoryUrl(const QString& path)
{
    QString clean = QDir::cleanPath(path);
    if (!clean.endsWith(QLatin1Char('/')))
        clean += QLatin1Char('/');
    return QUrl::fromLocalFile(clean);
}

} // namespace

std::optional<QUrl> folderUrlFromSetting(const QString& path)
{
    QString expanded = path;
    if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/")))
        expanded = QDir::homePath() + expanded.mid(1);
    if (expanded.isEmpty() || QDir::isRelativePath(expanded))
        return std::nullopt;
    return directoryUrl(expanded);
}

QUrl defaultFallbackFolder(const Settings& store)
{
    if (const auto chosen = folderUrlFromSetting(
            store.stringValue(SettingsKey::fallbackFolder).value_or(QString())))
        return *chosen;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty())
        return directoryUrl(downloads);
    return directoryUrl(QDir::homePath() + QStringLiteral("/Downloads"));
}

QUrl defaultFallbackFolder()
{
    return defaultFallbackFolder(Settings::shared());
}

QMap<QString, QString> effectiveSuffixes(const Settings& store)
{
    QMap<QString, QString> suffixes = SettingsSnapshot::defaultSuffixes();
    const std::optional<QVariantMap> user = store.dictionaryValue(SettingsKey::suffixes);
    if (!user)
        return suffixes;
    // One value that is not text makes the whole dictionary unreadable.
    for (const QVariant& value : *user) {
        if (value.typeId() != QMetaType::QString)
            return suffixes;
    }
    for (auto it = user->cbegin(); it != user->cend(); ++it) {
        const QString word = it.value().toString();
        if (isUsableSuffixWord(word))
            suffixes.insert(it.key(), word);
    }
    return suffixes;
}

QMap<QString, QString> effectiveSuffixes()
{
    return effectiveSuffixes(Settings::shared());
}

QColor currentAccentColor(const Settings& store)
{
    const QString text = store.stringValue(SettingsKey::accentColor).value_or(defaultAccentHex());
    if (const auto color = colorFromHex(text))
        return *color;
    return *colorFromHex(defaultAccentHex());
}

QColor currentAccentColor()
{
    return currentAccentColor(Settings::shared());
}

WheelSize currentWheelSize(const Settings& store)
{
    const QString text = store.stringValue(SettingsKey::wheelSize).value_or(QString());
    return enumFromString<WheelSize>(text).value_or(WheelSize::medium);
}

WheelSize currentWheelSize()
{
    return currentWheelSize(Settings::shared());
}

ModifierChoice triggerModifier(WheelKind wheel, const Settings& store)
{
    QLatin1String key = SettingsKey::triggerConvert;
    switch (wheel) {
    case WheelKind::convert: key = SettingsKey::triggerConvert; break;
    case WheelKind::tools: key = SettingsKey::triggerTools; break;
    case WheelKind::actions: key = SettingsKey::triggerActions; break;
    }
    const QString text = store.stringValue(key).value_or(QString());
    return enumFromString<ModifierChoice>(text).value_or(ModifierChoice::off);
}

ModifierChoice triggerModifier(WheelKind wheel)
{
    return triggerModifier(wheel, Settings::shared());
}

QString wheelOrderKey(WheelKind wheel, FileCategory category)
{
    return SettingsKey::wheelPrefix + toString(wheel) + QLatin1Char('.') + toString(category);
}

} // namespace qv
