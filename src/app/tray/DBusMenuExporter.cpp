#include "app/tray/DBusMenuExporter.h"

#include "model/Log.h"

#include <QAction>
#include <QActionGroup>
#include <QBuffer>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMenu>
#include <QTimer>

namespace qv {

// One entry of GetGroupProperties' a(ia{sv}).
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

} // namespace qv

Q_DECLARE_METATYPE(qv::DBusMenuItemProperties)

namespace qv {

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

namespace {

const QString kInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
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

QString introspection()
{
    return QStringLiteral(R"xml(  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps" direction="out"/>
      <arg type="a(ias)" name="removedProps" direction="out"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision" direction="out"/>
      <arg type="i" name="parent" direction="out"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id" direction="out"/>
      <arg type="u" name="timestamp" direction="out"/>
    </signal>
  </interface>
)xml");
}

QList<int> intList(const QVariant& value)
{
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        return qdbus_cast<QList<int>>(value);
    return value.value<QList<int>>();
}

QDBusMessage error(const QDBusMessage& message, const QString& text)
{
    return message.createErrorReply(QDBusError::InvalidArgs, text);
}

} // namespace

struct DBusMenuExporter::Item {
    QPointer<QAction> action;
    QPointer<QMenu> submenu;
    QVariantMap properties;
    QList<int> children;

    bool operator==(const Item& other) const
    {
        return properties == other.properties && children == other.children;
    }
};

DBusMenuExporter::DBusMenuExporter(QMenu* menu, QDBusConnection bus, QString path, QObject* parent)
    : QDBusVirtualObject(parent)
    , m_menu(menu)
    , m_bus(std::move(bus))
    , m_path(std::move(path))
{
    static const bool registered = [] {
        qDBusRegisterMetaType<DBusMenuItemProperties>();
        qDBusRegisterMetaType<QList<DBusMenuItemProperties>>();
        return true;
    }();
    (void)registered;
    m_items.insert(0, Item{nullptr, m_menu, {}, {}});
    fill(0);
    m_registered = m_bus.registerVirtualObject(m_path, this);
    if (!m_registered)
        qCWarning(appLog, "The tray menu could not be put on the bus: %s", qUtf8Printable(m_bus.lastError().message()));
}

DBusMenuExporter::~DBusMenuExporter()
{
    if (m_registered)
        m_bus.unregisterObject(m_path);
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

QVariantMap DBusMenuExporter::properties(QAction* action, bool submenu) const
{
    QVariantMap properties;
    if (action->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), dbusLabel(action->text()));
        const QByteArray icon = iconPng(action->icon());
        if (!icon.isEmpty())
            properties.insert(QStringLiteral("icon-data"), icon);
        if (action->isCheckable()) {
            properties.insert(QStringLiteral("toggle-type"),
                              action->actionGroup() && action->actionGroup()->isExclusive()
                                  ? QStringLiteral("radio")
                                  : QStringLiteral("checkmark"));
            properties.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
    }
    if (!action->isEnabled())
        properties.insert(QStringLiteral("enabled"), false);
    if (!action->isVisible())
        properties.insert(QStringLiteral("visible"), false);
    if (submenu)
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    return properties;
}

void DBusMenuExporter::collect(QMenu* menu, const QString& key, int parentId)
{
    const QList<QAction*> actions = menu->actions();
    for (int i = 0; i < actions.size(); ++i) {
        QAction* action = actions.at(i);
        const QString childKey = key + QLatin1Char('/') + QString::number(i);
        const int id = idFor(childKey);
        auto* submenu = action->menu<QMenu*>();
        Item item{action, submenu, properties(action, submenu != nullptr), {}};
        m_items.insert(id, item);
        m_items[parentId].children.append(id);
        if (submenu)
            collect(submenu, childKey, id);
    }
}

void DBusMenuExporter::refresh()
{
    const QHash<int, Item> before = m_items;
    m_items.clear();
    QVariantMap rootProperties;
    rootProperties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    m_items.insert(0, Item{nullptr, m_menu, rootProperties, {}});
    if (m_menu)
        collect(m_menu, QString(), 0);
    if (m_items == before)
        return;
    ++m_revision;
    if (m_registered) {
        QDBusMessage signal = QDBusMessage::createSignal(m_path, kInterface, QStringLiteral("LayoutUpdated"));
        signal << m_revision << 0;
        m_bus.send(signal);
    }
}

QVariantMap DBusMenuExporter::filtered(const QVariantMap& all, const QStringList& names) const
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

void DBusMenuExporter::fill(int id)
{
    const Item item = m_items.value(id);
    if (item.submenu)
        Q_EMIT item.submenu->aboutToShow();
    refresh();
}

void DBusMenuExporter::event(int id, const QString& type)
{
    const Item item = m_items.value(id);
    if (type == QLatin1String("opened") && item.submenu) {
        fill(id);
    } else if (type == QLatin1String("closed") && item.submenu) {
        Q_EMIT item.submenu->aboutToHide();
    } else if (type == QLatin1String("clicked") && item.action && !item.submenu) {
        // After the answer: the command may quit or open a modal window.
        QPointer<QAction> action = item.action;
        QTimer::singleShot(0, this, [action] {
            if (action && action->isEnabled())
                action->trigger();
        });
    }
}

QString DBusMenuExporter::introspect(const QString& path) const
{
    return path == m_path ? introspection() : QString();
}

bool DBusMenuExporter::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    const QList<QVariant> args = message.arguments();
    const QString member = message.member();
    if (message.interface() == kProperties) {
        const QString name = args.value(1).toString();
        QVariantMap all;
        all.insert(QStringLiteral("Version"), 3u);
        all.insert(QStringLiteral("TextDirection"), QStringLiteral("ltr"));
        all.insert(QStringLiteral("Status"), QStringLiteral("normal"));
        all.insert(QStringLiteral("IconThemePath"), QStringList{});
        if (member == QLatin1String("GetAll"))
            return connection.send(message.createReply(QVariant::fromValue(all)));
        if (member == QLatin1String("Get") && all.contains(name))
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
        return connection.send(error(message, QStringLiteral("No such property")));
    }
    if (message.interface() != kInterface && !message.interface().isEmpty())
        return false;
    qCDebug(appLog, "Tray menu: %s from %s", qUtf8Printable(member), qUtf8Printable(message.service()));

    if (member == QLatin1String("GetLayout")) {
        const int parent = args.value(0).toInt();
        if (!m_items.contains(parent))
            return connection.send(error(message, QStringLiteral("No such item")));
        const QList<QVariant> reply{m_revision, layout(parent, args.value(1).toInt(), args.value(2).toStringList())};
        return connection.send(message.createReply(reply));
    }
    if (member == QLatin1String("GetGroupProperties")) {
        const QStringList names = args.value(1).toStringList();
        QList<DBusMenuItemProperties> items;
        for (int id : intList(args.value(0))) {
            if (m_items.contains(id))
                items.append({id, filtered(m_items.value(id).properties, names)});
        }
        return connection.send(message.createReply(QVariant::fromValue(items)));
    }
    if (member == QLatin1String("GetProperty")) {
        const QVariantMap all = m_items.value(args.value(0).toInt()).properties;
        const QString name = args.value(1).toString();
        if (!all.contains(name))
            return connection.send(error(message, QStringLiteral("No such property")));
        return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
    }
    if (member == QLatin1String("AboutToShow")) {
        const int id = args.value(0).toInt();
        if (!m_items.contains(id))
            return connection.send(error(message, QStringLiteral("No such item")));
        const uint before = m_revision;
        fill(id);
        return connection.send(message.createReply(QVariant(m_revision != before)));
    }
    if (member == QLatin1String("AboutToShowGroup")) {
        QList<int> updates;
        QList<int> errors;
        for (int id : intList(args.value(0))) {
            if (!m_items.contains(id)) {
                errors.append(id);
                continue;
            }
            const uint before = m_revision;
            fill(id);
            if (m_revision != before)
                updates.append(id);
        }
        return connection.send(message.createReply(QList<QVariant>{QVariant::fromValue(updates), QVariant::fromValue(errors)}));
    }
    if (member == QLatin1String("Event")) {
        const int id = args.value(0).toInt();
        if (!m_items.contains(id))
            return connection.send(error(message, QStringLiteral("No such item")));
        event(id, args.value(1).toString());
        return connection.send(message.createReply());
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
        return connection.send(message.createReply(QVariant::fromValue(errors)));
    }
    return false;
}

} // namespace qv
