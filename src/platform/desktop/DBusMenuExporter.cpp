#include "platform/desktop/DBusMenuExporter.h"

#include "model/Log.h"
#include "platform/desktop/DBusStructure.h"

#include <QBuffer>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QTimer>

#include <algorithm>

namespace qv {

// One entry of GetGroupProperties' and ItemsPropertiesUpdated's a(ia{sv}).
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

// One entry of ItemsPropertiesUpdated's a(ias): the properties an item no longer has.
struct DBusMenuItemRemovedProperties {
    int id = 0;
    QStringList names;
};

} // namespace qv

Q_DECLARE_METATYPE(qv::DBusMenuItemProperties)
Q_DECLARE_METATYPE(qv::DBusMenuItemRemovedProperties)

namespace qv {

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item)
{
    return writeDBusStructure(argument, item.id, item.properties);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item)
{
    return readDBusStructure(argument, item.id, item.properties);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemRemovedProperties& item)
{
    return writeDBusStructure(argument, item.id, item.names);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemRemovedProperties& item)
{
    return readDBusStructure(argument, item.id, item.names);
}

namespace {

constexpr int kIconSize = 16;

// "&Open" with Qt's mnemonic marker as dbusmenu writes it: "_Open", a real "_" doubled.
QString dbusLabel(const QString& text)
{
    QString label;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else if (c == QLatin1Char('&')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&')) {
                label += QLatin1Char('&');
                ++i;
            } else {
                label += QLatin1Char('_');
            }
        } else {
            label += c;
        }
    }
    return label;
}

QByteArray iconPng(const QIcon& icon)
{
    if (icon.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!icon.pixmap(kIconSize, kIconSize).save(&buffer, "PNG"))
        return {};
    return bytes;
}

QVariantMap itemProperties(const TrayMenuEntry& entry)
{
    QVariantMap properties;
    if (entry.separator) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), dbusLabel(entry.text));
        const QByteArray icon = iconPng(entry.icon);
        if (!icon.isEmpty())
            properties.insert(QStringLiteral("icon-data"), icon);
        if (entry.toggle != TrayMenuEntry::Toggle::none) {
            properties.insert(QStringLiteral("toggle-type"), entry.toggle == TrayMenuEntry::Toggle::radio
                                                                 ? QStringLiteral("radio")
                                                                 : QStringLiteral("checkmark"));
            properties.insert(QStringLiteral("toggle-state"), entry.checked ? 1 : 0);
        }
    }
    if (!entry.enabled)
        properties.insert(QStringLiteral("enabled"), false);
    if (!entry.visible)
        properties.insert(QStringLiteral("visible"), false);
    if (entry.submenu)
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    return properties;
}

// An entry's id stays while its place and its kind do: a host replaces an item whose kind
// changed only as a new one.
QString idKey(const QStringList& keyPath, const TrayMenuEntry& entry)
{
    const QChar kind = entry.separator ? QLatin1Char('-') : entry.submenu ? QLatin1Char('>') : QLatin1Char('.');
    return keyPath.join(QChar(0x1f)) + kind;
}

QVariantMap filtered(const QVariantMap& all, const QStringList& names)
{
    if (names.isEmpty())
        return all;
    QVariantMap some;
    for (const QString& name : names) {
        if (all.contains(name))
            some.insert(name, all.value(name));
    }
    return some;
}

QList<int> intList(const QVariant& value)
{
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        return qdbus_cast<QList<int>>(value);
    return value.value<QList<int>>();
}

QDBusMessage noSuchItem(const QDBusMessage& message)
{
    return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such item"));
}

} // namespace

DBusMenuExporter::DBusMenuExporter(QDBusConnection bus, QString path, QObject* parent)
    : DBusObject(std::move(bus), std::move(path), QStringLiteral("com.canonical.dbusmenu"), parent)
{
    static const bool registered = [] {
        qDBusRegisterMetaType<DBusMenuItemProperties>();
        qDBusRegisterMetaType<QList<DBusMenuItemProperties>>();
        qDBusRegisterMetaType<DBusMenuItemRemovedProperties>();
        qDBusRegisterMetaType<QList<DBusMenuItemRemovedProperties>>();
        return true;
    }();
    (void)registered;
    m_items.insert(0, Item{{}, {{QStringLiteral("children-display"), QStringLiteral("submenu")}}, {}});
}

int DBusMenuExporter::idFor(const QString& key)
{
    auto it = m_ids.constFind(key);
    if (it != m_ids.cend())
        return *it;
    const int id = m_nextId++;
    m_ids.insert(key, id);
    return id;
}

void DBusMenuExporter::collect(const QList<TrayMenuEntry>& entries, const QStringList& parentPath, int parentId)
{
    for (const TrayMenuEntry& entry : entries) {
        const QStringList keyPath = parentPath + QStringList{entry.key};
        const int id = idFor(idKey(keyPath, entry));
        m_items.insert(id, Item{keyPath, itemProperties(entry), {}});
        m_items[parentId].children.append(id);
        if (entry.submenu)
            collect(entry.children, keyPath, id);
    }
}

void DBusMenuExporter::setEntries(const QList<TrayMenuEntry>& entries)
{
    const QHash<int, Item> before = m_items;
    m_items.clear();
    m_items.insert(0, Item{{}, before.value(0).properties, {}});
    collect(entries, {}, 0);
    // An entry that went forgets its id: one that comes back is new to every host.
    for (auto it = m_ids.begin(); it != m_ids.end();) {
        if (m_items.contains(*it))
            ++it;
        else
            it = m_ids.erase(it);
    }

    QList<DBusMenuItemProperties> updated;
    QList<DBusMenuItemRemovedProperties> removed;
    // Kept items whose entries changed: every item that came or went is below one of them.
    QList<int> changedParents;
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        const auto old = before.constFind(it.key());
        if (old == before.cend())
            continue;
        if (old->children != it->children)
            changedParents.append(it.key());
        QVariantMap changed;
        for (auto p = it->properties.cbegin(); p != it->properties.cend(); ++p) {
            if (old->properties.value(p.key()) != p.value())
                changed.insert(p.key(), p.value());
        }
        QStringList gone;
        for (auto p = old->properties.cbegin(); p != old->properties.cend(); ++p) {
            if (!it->properties.contains(p.key()))
                gone.append(p.key());
        }
        if (!changed.isEmpty())
            updated.append({it.key(), changed});
        if (!gone.isEmpty())
            removed.append({it.key(), gone});
    }
    if (updated.isEmpty() && removed.isEmpty() && changedParents.isEmpty())
        return;
    m_changed = true;
    // Properties first: a host that reads the new layout already knows the kept items' texts.
    if (!updated.isEmpty() || !removed.isEmpty())
        emitSignal(QStringLiteral("ItemsPropertiesUpdated"), {QVariant::fromValue(updated), QVariant::fromValue(removed)});
    if (changedParents.isEmpty())
        return;
    ++m_revision;
    // Each parent whose entries changed: Plasma reads again only the one level under the parent
    // a LayoutUpdated names, and a submenu it has read already only when AboutToShow says so.
    std::sort(changedParents.begin(), changedParents.end());
    for (int parent : std::as_const(changedParents))
        emitSignal(QStringLiteral("LayoutUpdated"), {m_revision, parent});
}

QVariantMap DBusMenuExporter::properties() const
{
    return {{QStringLiteral("Version"), 3u},
            {QStringLiteral("TextDirection"), QStringLiteral("ltr")},
            {QStringLiteral("Status"), QStringLiteral("normal")},
            {QStringLiteral("IconThemePath"), QStringList{}}};
}

QVariant DBusMenuExporter::layout(int id, int depth, const QStringList& names) const
{
    const Item item = m_items.value(id);
    QDBusArgument argument;
    argument.beginStructure();
    argument << id << filtered(item.properties, names);
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    if (depth != 0) {
        for (int child : item.children)
            argument << QDBusVariant(layout(child, depth < 0 ? -1 : depth - 1, names));
    }
    argument.endArray();
    argument.endStructure();
    return QVariant::fromValue(argument);
}

void DBusMenuExporter::event(int id, const QString& type)
{
    const QStringList keyPath = m_items.value(id).keyPath;
    if (type == QLatin1String("opened")) {
        Q_EMIT aboutToShow(keyPath);
        m_open.insert(id);
        Q_EMIT openMenusChanged();
    } else if (type == QLatin1String("closed")) {
        Q_EMIT closed(keyPath);
        // The whole menu went: its submenus with it, whatever the host told of them.
        if (id == 0)
            m_open.clear();
        else
            m_open.remove(id);
        Q_EMIT openMenusChanged();
    } else if (type == QLatin1String("clicked") && id != 0) {
        if (!m_open.isEmpty()) {
            m_open.clear();
            Q_EMIT openMenusChanged();
        }
        QTimer::singleShot(0, this, [this, keyPath] { Q_EMIT activated(keyPath); });
    }
}

QList<QStringList> DBusMenuExporter::openMenus() const
{
    QList<QStringList> paths;
    for (int id : m_open) {
        if (m_items.contains(id))
            paths.append(m_items.value(id).keyPath);
    }
    return paths;
}

std::optional<QDBusMessage> DBusMenuExporter::call(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    const QString member = message.member();
    qCDebug(appLog, "Tray menu: %s from %s", qUtf8Printable(member), qUtf8Printable(message.service()));

    if (member == QLatin1String("GetLayout")) {
        const int parent = args.value(0).toInt();
        if (!m_items.contains(parent))
            return noSuchItem(message);
        return message.createReply(QList<QVariant>{m_revision, layout(parent, args.value(1).toInt(), args.value(2).toStringList())});
    }
    if (member == QLatin1String("GetGroupProperties")) {
        const QStringList names = args.value(1).toStringList();
        QList<DBusMenuItemProperties> items;
        for (int id : intList(args.value(0))) {
            if (m_items.contains(id))
                items.append({id, filtered(m_items.value(id).properties, names)});
        }
        return message.createReply(QVariant::fromValue(items));
    }
    if (member == QLatin1String("GetProperty")) {
        const QVariantMap all = m_items.value(args.value(0).toInt()).properties;
        const QString name = args.value(1).toString();
        if (!all.contains(name))
            return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such property"));
        return message.createReply(QVariant::fromValue(QDBusVariant(all.value(name))));
    }
    if (member == QLatin1String("AboutToShow") || member == QLatin1String("AboutToShowGroup")) {
        const QList<int> ids = member == QLatin1String("AboutToShow") ? QList<int>{args.value(0).toInt()}
                                                                      : intList(args.value(0));
        QList<int> updates;
        QList<int> errors;
        bool opened = false;
        for (int id : ids) {
            if (!m_items.contains(id)) {
                errors.append(id);
                continue;
            }
            m_changed = false;
            Q_EMIT aboutToShow(m_items.value(id).keyPath);
            if (m_changed)
                updates.append(id);
            // libdbusmenu's menus (waybar's) tell no "opened" for the top level: that they ask
            // it to fill itself is all they say of showing it, and they tell nothing of its closing.
            if (id == 0 && !m_open.contains(0)) {
                m_open.insert(0);
                opened = true;
            }
        }
        if (opened)
            Q_EMIT openMenusChanged();
        if (member == QLatin1String("AboutToShowGroup"))
            return message.createReply(QList<QVariant>{QVariant::fromValue(updates), QVariant::fromValue(errors)});
        if (!errors.isEmpty())
            return noSuchItem(message);
        return message.createReply(QVariant(!updates.isEmpty()));
    }
    if (member == QLatin1String("Event")) {
        const int id = args.value(0).toInt();
        if (!m_items.contains(id))
            return noSuchItem(message);
        event(id, args.value(1).toString());
        return message.createReply();
    }
    if (member == QLatin1String("EventGroup")) {
        QList<int> errors;
        const QDBusArgument events = args.value(0).value<QDBusArgument>();
        events.beginArray();
        while (!events.atEnd()) {
            int id = 0;
            QString type;
            QDBusVariant data;
            uint timestamp = 0;
            events.beginStructure();
            events >> id >> type >> data >> timestamp;
            events.endStructure();
            if (m_items.contains(id))
                event(id, type);
            else
                errors.append(id);
        }
        events.endArray();
        return message.createReply(QVariant::fromValue(errors));
    }
    return std::nullopt;
}

} // namespace qv
