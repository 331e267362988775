#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace qv {

// The user's settings as the rest of the program sees them: stored values over registered
// defaults. Typed reads are forgiving, because a hand-edited file may hold anything: a number
// may come as text, a flag as a number. Implementations are safe to read from any thread.
class Settings {
public:
    virtual ~Settings() = default;

    // The stored value, else the registered one, else an invalid QVariant.
    virtual QVariant value(const QString& key) const = 0;
    virtual bool hasStoredValue(const QString& key) const = 0;
    // Keys of both layers, sorted.
    virtual QStringList allKeys() const = 0;

    // Replaces earlier registrations of the same keys; never stored.
    virtual void registerDefaults(const QVariantMap& defaults) = 0;
    // An invalid QVariant removes the stored value.
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void setData(const QString& key, const QByteArray& data) = 0;
    virtual void remove(const QString& key) = 0;

    bool boolValue(const QString& key) const;
    int intValue(const QString& key) const;
    double doubleValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;
    std::optional<QVariantMap> dictionaryValue(const QString& key) const;
    std::optional<QVariantList> arrayValue(const QString& key) const;
    // Only when every element is text.
    std::optional<QStringList> stringListValue(const QString& key) const;

    // The process-wide settings, which start-up installs before anything reads them.
    static Settings& shared();
    static void installShared(Settings& settings);
};

} // namespace qv
