#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace qv {

// The namespace and relationship-type URIs the package writers share, read once from the
// resource ":/documents/XMLNamespaces.plist". Thread-safe.
class XMLNamespaces {
public:
    XMLNamespaces() = delete;

    // The URI for the key; empty when the key or the whole table is missing.
    static QString value(const QString& key);

    // A property-list dictionary of strings to strings; empty when the bytes are not one.
    static std::optional<QHash<QString, QString>> parse(const QByteArray& plist);

    // Where the table is read from; tests point it elsewhere before the first lookup.
    static QString resourcePath;
};

} // namespace qv
