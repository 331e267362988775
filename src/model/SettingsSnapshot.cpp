#include "model/SettingsSnapshot.h"

#include <QDir>

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

} // namespace qv
