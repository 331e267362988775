#include "model/settings/Settings.h"

#include <QLocale>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace qv {

namespace {

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// A number or a text that reads as one; text is read the way a user might have typed it into
// the file ("12", " 0.5 ", "true").
std::optional<double> numberOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    if (isNumber(value))
        return value.toDouble();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
            return 1.0;
        bool ok = false;
        const double number = QLocale::c().toDouble(text, &ok);
        if (ok)
            return number;
    }
    return std::nullopt;
}

std::atomic<Settings*> installed = nullptr;

} // namespace

Settings& Settings::shared()
{
    Settings* settings = installed.load();
    if (!settings)
        qFatal("The settings were read before start-up installed them");
    return *settings;
}

void Settings::installShared(Settings& settings)
{
    installed = &settings;
}

bool Settings::boolValue(const QString& key) const
{
    const std::optional<double> number = numberOf(value(key));
    return number && *number != 0.0 && !std::isnan(*number);
}

int Settings::intValue(const QString& key) const
{
    const std::optional<double> number = numberOf(value(key));
    if (!number || std::isnan(*number))
        return 0;
    // Clamped, because a hand-edited file may hold anything.
    const double clamped = std::clamp(std::trunc(*number),
                                      double(std::numeric_limits<int>::min()),
                                      double(std::numeric_limits<int>::max()));
    return static_cast<int>(clamped);
}

double Settings::doubleValue(const QString& key) const
{
    return numberOf(value(key)).value_or(0.0);
}

std::optional<QString> Settings::stringValue(const QString& key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::QString)
        return stored.toString();
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (stored.typeId() == QMetaType::Double)
        return QString::number(stored.toDouble(), 'g', QLocale::FloatingPointShortest);
    if (isNumber(stored))
        return QString::number(stored.toLongLong());
    return std::nullopt;
}

std::optional<QByteArray> Settings::dataValue(const QString& key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::QByteArray)
        return stored.toByteArray();
    return std::nullopt;
}

std::optional<QVariantMap> Settings::dictionaryValue(const QString& key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::QVariantMap)
        return stored.toMap();
    return std::nullopt;
}

std::optional<QVariantList> Settings::arrayValue(const QString& key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::QVariantList)
        return stored.toList();
    return std::nullopt;
}

std::optional<QStringList> Settings::stringListValue(const QString& key) const
{
    const std::optional<QVariantList> list = arrayValue(key);
    if (!list)
        return std::nullopt;
    QStringList strings;
    for (const QVariant& item : *list) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        strings.append(item.toString());
    }
    return strings;
}

} // namespace qv
