#include "model/settings/Shortcut.h"

#include "model/settings/KeyTable.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QKeyEvent>
#include <QStringList>

#include <cmath>

namespace qv {

namespace {

std::optional<quint32> unsignedField(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < 0 || number > 4294967295.0 || std::floor(number) != number)
        return std::nullopt;
    return static_cast<quint32>(number);
}

} // namespace

Shortcut Shortcut::defaultShortcut()
{
    return Shortcut{49, altKey | shiftKey};
}

std::optional<Shortcut> Shortcut::fromKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    quint32 bits = 0;
    if (modifiers & Qt::MetaModifier)
        bits |= superKey;
    if (modifiers & Qt::ShiftModifier)
        bits |= shiftKey;
    if (modifiers & Qt::AltModifier)
        bits |= altKey;
    if (modifiers & Qt::ControlModifier)
        bits |= controlKey;
    if (!(bits & (superKey | altKey | controlKey)))
        return std::nullopt;
    const std::optional<quint32> code =
        keyCodeForQtKey(qtKey, modifiers.testFlag(Qt::KeypadModifier));
    if (!code)
        return std::nullopt;
    return Shortcut{*code, bits};
}

std::optional<Shortcut> Shortcut::fromKeyEvent(const QKeyEvent& event)
{
    return fromKey(event.key(), event.modifiers());
}

QByteArray encodeShortcut(const std::optional<Shortcut>& shortcut)
{
    if (!shortcut)
        return QByteArrayLiteral("null");
    const QJsonObject object{
        {QStringLiteral("keyCode"), static_cast<qint64>(shortcut->keyCode)},
        {QStringLiteral("carbonModifiers"), static_cast<qint64>(shortcut->modifierMask)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Shortcut> decodeShortcut(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt; // also the literal null
    const QJsonObject object = document.object();
    const auto keyCode = unsignedField(object, QStringLiteral("keyCode"));
    const auto modifiers = unsignedField(object, QStringLiteral("carbonModifiers"));
    if (!keyCode || !modifiers)
        return std::nullopt;
    return Shortcut{*keyCode, *modifiers};
}

std::optional<Shortcut> storedShortcut(const Settings& store)
{
    const std::optional<QByteArray> data = store.dataValue(SettingsKey::convertHotkey);
    if (!data)
        return Shortcut::defaultShortcut();
    return decodeShortcut(*data);
}

std::optional<Shortcut> storedShortcut()
{
    return storedShortcut(Settings::shared());
}

QString shortcutDisplayString(const Shortcut& shortcut)
{
    QStringList parts;
    if (shortcut.modifierMask & Shortcut::controlKey)
        parts.append(QStringLiteral("Ctrl"));
    if (shortcut.modifierMask & Shortcut::altKey)
        parts.append(QStringLiteral("Alt"));
    if (shortcut.modifierMask & Shortcut::shiftKey)
        parts.append(QStringLiteral("Shift"));
    if (shortcut.modifierMask & Shortcut::superKey)
        parts.append(QStringLiteral("Super"));
    parts.append(keyName(shortcut.keyCode));
    return parts.join(QLatin1Char('+'));
}

QString keyName(quint32 keyCode)
{
    switch (keyCode) {
    case 49: return QStringLiteral("Space");
    case 36: return QStringLiteral("\u21A9");
    case 48: return QStringLiteral("\u21E5");
    case 51: return QStringLiteral("\u232B");
    case 117: return QStringLiteral("\u2326");
    case 53: return QStringLiteral("\u238B");
    case 123: return QStringLiteral("\u2190");
    case 124: return QStringLiteral("\u2192");
    case 126: return QStringLiteral("\u2191");
    case 125: return QStringLiteral("\u2193");
    case 115: return QStringLiteral("\u2196");
    case 119: return QStringLiteral("\u2198");
    case 116: return QStringLiteral("\u21DE");
    case 121: return QStringLiteral("\u21DF");
    case 122: return QStringLiteral("F1");
    case 120: return QStringLiteral("F2");
    case 99: return QStringLiteral("F3");
    case 118: return QStringLiteral("F4");
    case 96: return QStringLiteral("F5");
    case 97: return QStringLiteral("F6");
    case 98: return QStringLiteral("F7");
    case 100: return QStringLiteral("F8");
    case 101: return QStringLiteral("F9");
    case 109: return QStringLiteral("F10");
    case 103: return QStringLiteral("F11");
    case 111: return QStringLiteral("F12");
    default: break;
    }
    if (const std::optional<QString> label = keyLabel(keyCode); label && !label->isEmpty())
        return label->toUpper();
    return QLatin1Char('#') + QString::number(keyCode);
}

} // namespace qv
