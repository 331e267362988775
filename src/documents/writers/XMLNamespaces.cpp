#include "documents/writers/XMLNamespaces.h"

#include "model/Log.h"

#include <QFile>

#include <plist/plist.h>

#include <memory>

namespace qv {

QString XMLNamespaces::resourcePath = QStringLiteral(":/documents/XMLNamespaces.plist");

std::optional<QHash<QString, QString>> XMLNamespaces::parse(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
    if (!root)
        return std::nullopt;
    const std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
    if (plist_get_node_type(root) != PLIST_DICT)
        return std::nullopt;
    QHash<QString, QString> table;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root, &it);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(root, it, &key, &item);
        if (!key)
            break;
        const QString name = QString::fromUtf8(key);
        free(key);
        if (plist_get_node_type(item) != PLIST_STRING) {
            free(it);
            return std::nullopt;
        }
        char* text = nullptr;
        plist_get_string_val(item, &text);
        table.insert(name, QString::fromUtf8(text));
        free(text);
    }
    free(it);
    return table;
}

QString XMLNamespaces::value(const QString& key)
{
    static const QHash<QString, QString> table = [] {
        QFile file(resourcePath);
        const auto parsed = file.open(QIODevice::ReadOnly) ? parse(file.readAll()) : std::nullopt;
        if (!parsed) {
            qCCritical(enginesLog) << "XMLNamespaces.plist is missing from the app bundle";
            return QHash<QString, QString>{};
        }
        return *parsed;
    }();
    return table.value(key);
}

} // namespace qv
