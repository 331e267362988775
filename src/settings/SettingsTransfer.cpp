#include "settings/SettingsTransfer.h"

#include "model/settings/Settings.h"
#include "model/settings/SettingsReset.h"
#include "platform/settings/SettingsStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <utility>

namespace qv {

namespace {

const QString dataKey = QStringLiteral("$data");

// One JSON value on one line.
QByteArray compactJson(const QJsonValue& value)
{
    QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

bool containsNull(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return true;
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(),
                           [](const QJsonValue& item) { return containsNull(item); });
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        return std::any_of(object.begin(), object.end(),
                           [](const QJsonValue& item) { return containsNull(item); });
    }
    default:
        return false;
    }
}

// Standard alphabet, padded, nothing else: text with spaces or line breaks is no data value.
std::optional<QByteArray> strictBase64(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9+/]*={0,2}$"));
    if (text.size() % 4 != 0 || !pattern.match(text).hasMatch())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

std::optional<QByteArray> dataValue(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    if (object.isEmpty() || !object.contains(dataKey))
        return std::nullopt;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
    }
    return strictBase64(object.value(dataKey).toString());
}

QString countedMessage(const char* verb, int count)
{
    // "settings" for every number, one included.
    return QString::fromLatin1(verb) + QLatin1Char(' ') + QString::number(count)
        + QStringLiteral(" settings");
}

SettingsTransferResult exportFailure(const QString& description)
{
    return {false, QStringLiteral("Couldn't export: ") + description};
}

SettingsTransferResult importFailure(const QString& description)
{
    return {false, QStringLiteral("Couldn't import: ") + description};
}

} // namespace

QByteArray settingsExportBytes(const Settings& store, int* count)
{
    QList<std::pair<QByteArray, QString>> keys;
    for (const QString& key : store.allKeys()) {
        if (isExportableSettingsKey(key))
            keys.append({key.toUtf8(), key});
    }
    std::sort(keys.begin(), keys.end());
    QByteArray out("{");
    int written = 0;
    for (const auto& [bytes, key] : keys) {
        const QJsonValue value = SettingsStore::toJson(store.value(key));
        if (value.isNull() || value.isUndefined())
            continue; // JSON cannot carry it back
        out += written == 0 ? "\n  " : ",\n  ";
        out += compactJson(key) + " : " + compactJson(value);
        ++written;
    }
    out += written == 0 ? "}\n" : "\n}\n";
    if (count)
        *count = written;
    return out;
}

SettingsTransferResult exportSettingsFile(const Settings& store, const QString& path)
{
    int count = 0;
    const QByteArray bytes = settingsExportBytes(store, &count);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return exportFailure(file.errorString());
    // Qt 6.4 commits a file whose last buffered bytes never reached the disk: check the count
    // and the flush before committing.
    const qint64 written = file.write(bytes);
    if (written != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        QString description = file.errorString();
        if (description.isEmpty() || file.error() == QFileDevice::NoError)
            description = QStringLiteral("The disk is full or the file is too large");
        file.cancelWriting();
        return exportFailure(description);
    }
    if (!file.commit())
        return exportFailure(file.errorString());
    return {true, countedMessage("Exported", count)};
}

SettingsTransferResult importSettingsFile(Settings& store, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return importFailure(file.errorString());
    if (file.size() > maxSettingsImportBytes)
        return importFailure(QStringLiteral("The file is too large for a settings export"));
    // At most one byte more than the limit: a file that grows while read is caught too.
    const QByteArray bytes = file.read(maxSettingsImportBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return importFailure(file.errorString());
    if (bytes.size() > maxSettingsImportBytes)
        return importFailure(QStringLiteral("The file is too large for a settings export"));
    return importSettingsBytes(store, bytes);
}

SettingsTransferResult importSettingsBytes(Settings& store, const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return importFailure(error.errorString());
    if (!document.isObject())
        return {false, QStringLiteral("That file isn't a Quorvenda settings export")};
    const QJsonObject object = document.object();
    int count = 0;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        if (!isExportableSettingsKey(key) || containsNull(value))
            continue;
        if (const std::optional<QByteArray> data = dataValue(value))
            store.setData(key, *data);
        else
            store.setValue(key, SettingsStore::fromJson(value));
        ++count;
    }
    return {true, countedMessage("Imported", count)};
}

} // namespace qv
