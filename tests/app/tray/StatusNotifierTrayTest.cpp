// The tray icon as tray hosts read it over D-Bus: the StatusNotifierItem registers with the
// watcher and says it is a menu; its menu answers GetLayout, AboutToShow and Event as
// libdbusmenu (waybar) and Plasma ask them, and stays live in libdbusmenu and in a host that
// reads it as GNOME's AppIndicator extension does.

#include "app/tray/MenuActions.h"
#include "app/tray/StatusItemController.h"
#include "app/tray/StatusNotifierTray.h"
#include "jobs/JobCenter.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/JobHUD.h"
#include "jobs/ui/PillController.h"
#include "platform/clipboard/Clipboard.h"
#include "model/errors/CancellationError.h"
#include "model/files/FileInfo.h"
#include "model/operations/FileOperation.h"
#include "model/operations/Progress.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/wheel/WheelEntry.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"
#include "support/DBusSignalRecorder.h"
#include "support/FakeScreens.h"
#include "support/FakeClock.h"
#include "support/OperationUntilCancelled.h"
#include "support/PrivateBusTest.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMenu>
#include <QMutex>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace qv;
using namespace qv::test;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kMenu = QStringLiteral("com.canonical.dbusmenu");

// The host's watcher, in a thread of its own: records the items that register.
class FakeWatcher : public QDBusVirtualObject {
public:
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("RegisterStatusNotifierItem"))
            return false;
        {
            QMutexLocker lock(&m_mutex);
            m_items.append(message.arguments().value(0).toString());
        }
        connection.send(message.createReply());
        return true;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};

// One menu item as a host holds it.
struct Entry {
    int id = 0;
    QVariantMap properties;
    QList<Entry> children;
};

Entry readEntry(const QDBusArgument& argument)
{
    Entry entry;
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children.append(readEntry(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

// An a(ia{sv}): properties by item, in the order they came.
QList<std::pair<int, QVariantMap>> readProperties(const QVariant& value)
{
    QList<std::pair<int, QVariantMap>> items;
    const QDBusArgument list = value.value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        std::pair<int, QVariantMap> item;
        list.beginStructure();
        list >> item.first >> item.second;
        list.endStructure();
        items.append(item);
    }
    list.endArray();
    return items;
}

// "label" or "-" for a separator, "(off)" when disabled, "[x]"/"[ ]" for a checkmark, and the
// children in braces.
QString describeItem(const QVariantMap& properties, const QStringList& children)
{
    QString text;
    if (properties.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
        text = QStringLiteral("-");
    else
        text = properties.value(QStringLiteral("label")).toString();
    if (properties.contains(QStringLiteral("toggle-type")))
        text.prepend(properties.value(QStringLiteral("toggle-state")).toInt() ? QStringLiteral("[x]") : QStringLiteral("[ ]"));
    if (!properties.value(QStringLiteral("enabled"), true).toBool())
        text += QStringLiteral("(off)");
    if (!children.isEmpty())
        text += QLatin1Char('{') + children.join(QLatin1Char(',')) + QLatin1Char('}');
    return text;
}

QString describe(const Entry& entry)
{
    QStringList children;
    for (const Entry& child : entry.children)
        children.append(describe(child));
    return describeItem(entry.properties, children);
}

QList<int> ids(const Entry& entry)
{
    QList<int> all{entry.id};
    for (const Entry& child : entry.children)
        all += ids(child);
    return all;
}

// A call answered by the item in this thread.
QDBusMessage ask(QDBusConnection& bus, const QString& service, const QString& path, const QString& interface,
                 const QString& method, const QList<QVariant>& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    QDBusPendingCall pending = bus.asyncCall(call);
    waitFor([&] { return pending.isFinished(); });
    return pending.reply();
}

// A tray host as the tests drive it: what it shows, and a user's opening and clicking of the
// entries whose labels contain those given, from the top level.
class MenuHost {
public:
    virtual ~MenuHost() = default;
    // Waits until it shows that.
    virtual bool shows(const QString& expected) = 0;
    virtual void open(const QStringList& labels) = 0;
    virtual void click(const QStringList& labels) = 0;
};

// The menu as GNOME Shell's AppIndicator extension (46) keeps it: the layout is read with
// only "type" and "children-display" (at the start, on LayoutUpdated, and when AboutToShow
// answers true), an item's other properties only when the item is new to it
// (GetGroupProperties) or through ItemsPropertiesUpdated; the revision is never looked at.
class AppIndicatorHost : public MenuHost {
public:
    AppIndicatorHost(QDBusConnection bus, QString service)
        : m_bus(std::move(bus))
        , m_service(std::move(service))
        , m_signals(m_bus, m_service, StatusNotifierItem::menuPath, kMenu,
                    {QStringLiteral("LayoutUpdated"), QStringLiteral("ItemsPropertiesUpdated")})
    {
        EXPECT_TRUE(m_signals.isConnected());
        m_items.insert(0, {{{QStringLiteral("children-display"), QStringLiteral("submenu")}}, {}});
        readLayout();
    }

    // The menu as it shows it, after the signals that came.
    QString shown()
    {
        while (!m_signals.messages.isEmpty())
            handle(m_signals.messages.takeFirst());
        return describe(0);
    }

    bool shows(const QString& expected) override
    {
        const bool seen = waitFor([&] { return shown() == expected; });
        EXPECT_EQ(shown(), expected);
        return seen;
    }

    // The item reached by the labels, from the top level; -1 when there is none.
    int idOf(const QStringList& labels) const
    {
        int id = 0;
        for (const QString& label : labels) {
            const QList<int> children = m_items.value(id).children;
            const auto it = std::find_if(children.cbegin(), children.cend(), [&](int child) {
                return m_items.value(child).properties.value(QStringLiteral("label")).toString().contains(label);
            });
            if (it == children.cend())
                return -1;
            id = *it;
        }
        return id;
    }

    // A menu or submenu opens: "opened", then AboutToShow, as the extension sends them.
    void open(const QStringList& labels) override
    {
        const int id = idOf(labels);
        event(id, QStringLiteral("opened"));
        const QDBusMessage reply = call(QStringLiteral("AboutToShow"), {id});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        if (reply.arguments().value(0).toBool())
            readLayout();
    }

    void click(const QStringList& labels) override
    {
        lastClicked = idOf(labels);
        const QDBusMessage reply = event(lastClicked, QStringLiteral("clicked"));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    }

    QDBusMessage event(int id, const QString& type)
    {
        return call(QStringLiteral("Event"), {id, type, QVariant::fromValue(QDBusVariant(0)), 0u});
    }

private:
    struct Item {
        QVariantMap properties;
        QList<int> children;
    };

    QDBusMessage call(const QString& method, const QList<QVariant>& arguments)
    {
        return ask(m_bus, m_service, StatusNotifierItem::menuPath, kMenu, method, arguments);
    }

    void readLayout()
    {
        const QDBusMessage reply = call(QStringLiteral("GetLayout"),
                                        {0, -1, QStringList{QStringLiteral("type"), QStringLiteral("children-display")}});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        QList<int> fresh;
        apply(readEntry(reply.arguments().value(1).value<QDBusArgument>()), fresh);
        // Items no longer reached are forgotten.
        QSet<int> reached;
        QList<int> next{0};
        while (!next.isEmpty()) {
            const int id = next.takeFirst();
            reached.insert(id);
            next += m_items.value(id).children;
        }
        for (auto it = m_items.begin(); it != m_items.end();)
            it = reached.contains(it.key()) ? std::next(it) : m_items.erase(it);
        if (fresh.isEmpty())
            return;
        const QDBusMessage properties =
            call(QStringLiteral("GetGroupProperties"), {QVariant::fromValue(fresh), QStringList{}});
        ASSERT_EQ(properties.type(), QDBusMessage::ReplyMessage) << qPrintable(properties.errorMessage());
        update(readProperties(properties.arguments().value(0)));
    }

    void update(const QList<std::pair<int, QVariantMap>>& properties)
    {
        for (const auto& [id, values] : properties) {
            if (m_items.contains(id))
                m_items[id].properties.insert(values);
        }
    }

    void apply(const Entry& entry, QList<int>& fresh)
    {
        QList<int> children;
        for (const Entry& child : entry.children) {
            apply(child, fresh);
            children.append(child.id);
        }
        if (m_items.contains(entry.id)) {
            m_items[entry.id].properties.insert(entry.properties);
            m_items[entry.id].children = children;
        } else {
            m_items.insert(entry.id, {entry.properties, children});
            fresh.append(entry.id);
        }
    }

    void handle(const QDBusMessage& message)
    {
        if (message.member() == QLatin1String("LayoutUpdated")) {
            readLayout();
            return;
        }
        update(readProperties(message.arguments().value(0)));
        const QDBusArgument removed = message.arguments().value(1).value<QDBusArgument>();
        removed.beginArray();
        while (!removed.atEnd()) {
            int id = 0;
            QStringList names;
            removed.beginStructure();
            removed >> id >> names;
            removed.endStructure();
            for (const QString& name : names)
                m_items[id].properties.remove(name);
        }
        removed.endArray();
    }

    QString describe(int id) const
    {
        QStringList children;
        for (int child : m_items.value(id).children)
            children.append(describe(child));
        return describeItem(m_items.value(id).properties, children);
    }

public:
    int lastClicked = -1;

private:
    QDBusConnection m_bus;
    QString m_service;
    DBusSignalRecorder m_signals;
    QHash<int, Item> m_items;
};

// The menu as libdbusmenu, which waybar's tray shows menus through, reads it
// (support/dbusmenu/libdbusmenu-reader.py).
class LibdbusmenuHost : public MenuHost {
public:
    LibdbusmenuHost(const QString& busAddress, const QString& service)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        m_reader.setProcessEnvironment(environment);
        m_reader.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(QV_SOURCE_DIR "/tests/support/dbusmenu/libdbusmenu-reader.py"), service,
                        StatusNotifierItem::menuPath});
    }
    ~LibdbusmenuHost() override
    {
        m_reader.closeWriteChannel();
        if (!m_reader.waitForFinished(5000))
            m_reader.kill();
        m_reader.waitForFinished(5000);
    }

    static bool isInstalled()
    {
        return test::runProgram(QStringLiteral("/usr/bin/python3"),
                                {QStringLiteral("-c"),
                                 QStringLiteral("import gi; gi.require_version('Dbusmenu', '0.4'); from gi.repository import Dbusmenu")})
               == 0;
    }

    bool shows(const QString& expected) override
    {
        const bool seen = waitFor([&] {
            while (m_reader.canReadLine()) {
                const QString line = QString::fromUtf8(m_reader.readLine()).chopped(1);
                if (line.startsWith(QLatin1String("menu ")))
                    m_shown = line.mid(5);
            }
            return m_shown == expected || m_reader.state() == QProcess::NotRunning;
        }) && m_shown == expected;
        EXPECT_EQ(m_shown, expected) << m_reader.readAllStandardError().constData();
        return seen;
    }
    void open(const QStringList& labels) override { tell(QStringLiteral("open"), labels); }
    void click(const QStringList& labels) override { tell(QStringLiteral("click"), labels); }

private:
    void tell(const QString& verb, const QStringList& labels)
    {
        m_reader.write((QStringList{verb} + labels).join(QLatin1Char('\t')).toUtf8() + '\n');
    }

    QProcess m_reader;
    QString m_shown;
};

struct NoWorkspace : Workspace {
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>&) override {}
};

class StatusNotifierTrayTest : public PrivateBusTest {
protected:
    void SetUp() override
    {
        PrivateBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        client = connection(QStringLiteral("client"));
        // Filled afresh each time it opens, as the application's tray menu is.
        QObject::connect(&menu, &QMenu::aboutToShow, [this] {
            ++fillings;
            menu.clear();
            menu.addAction(QStringLiteral("&Convert Copied Files…"));
            QMenu* recent = menu.addMenu(QStringLiteral("Recent_Conversions"));
            for (const QString& result : std::as_const(recents))
                recent->addAction(result)->setObjectName(result);
            if (recents.isEmpty())
                recent->addAction(QStringLiteral("Nothing yet"))->setEnabled(false);
            menu.addSeparator();
            QAction* pause = menu.addAction(QStringLiteral("Pause Wheel"));
            pause->setCheckable(true);
            pause->setChecked(paused);
            QObject::connect(menu.addAction(QStringLiteral("Quit Quorvenda")), &QAction::triggered,
                             [this] { ++quits; });
        });
    }

    std::unique_ptr<StatusNotifierItem> item() { return std::make_unique<StatusNotifierItem>(connection(QStringLiteral("app"))); }

    QVariant itemProperty(const QString& service, const QString& name)
    {
        const QDBusMessage reply = ask(client, service, StatusNotifierItem::itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    Entry layout(const QString& service, uint* revision = nullptr)
    {
        const QDBusMessage reply = ask(client, service, StatusNotifierItem::menuPath, kMenu, QStringLiteral("GetLayout"),
                                       {0, -1, QStringList{}});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        if (revision)
            *revision = reply.arguments().value(0).toUInt();
        return readEntry(reply.arguments().value(1).value<QDBusArgument>());
    }

    bool aboutToShow(const QString& service, int id)
    {
        const QDBusMessage reply = ask(client, service, StatusNotifierItem::menuPath, kMenu, QStringLiteral("AboutToShow"), {id});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        return reply.arguments().value(0).toBool();
    }

    // afterCancel runs once the host cancelled the job, with the application still there.
    void menuStaysLive(const std::function<std::unique_ptr<MenuHost>(const QString& service)>& makeHost,
                       const std::function<void()>& afterCancel = {});

    QDBusConnection client{QString()};
    QMenu menu;
    int fillings = 0;
    int quits = 0;
    bool paused = false;
    QStringList recents;
};

} // namespace

TEST_F(StatusNotifierTrayTest, TheItemRegistersWithItsIconAndSaysItIsAMenu)
{
    QThread thread;
    thread.start();
    QDBusConnection hostBus = connection(QStringLiteral("host"));
    auto* watcher = new FakeWatcher;
    watcher->moveToThread(&thread);
    const auto stop = qScopeGuard([&] {
        hostBus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        QMetaObject::invokeMethod(watcher, [watcher] { delete watcher; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    });
    ASSERT_TRUE(hostBus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), watcher));
    ASSERT_TRUE(hostBus.registerService(kWatcher));

    StatusNotifierTray tray(&menu, item());
    // Nothing shows before the first icon.
    EXPECT_TRUE(watcher->items().isEmpty());
    QPixmap picture(32, 32);
    picture.fill(Qt::red);
    tray.setIcon(QIcon(picture));
    ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); }));
    const QString service = watcher->items().constFirst();
    EXPECT_EQ(service, tray.item().serviceName());

    EXPECT_TRUE(itemProperty(service, QStringLiteral("ItemIsMenu")).toBool());
    EXPECT_EQ(qdbus_cast<QDBusObjectPath>(itemProperty(service, QStringLiteral("Menu"))).path(), StatusNotifierItem::menuPath);
    EXPECT_EQ(itemProperty(service, QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    EXPECT_EQ(itemProperty(service, QStringLiteral("Id")).toString(), QStringLiteral("quorvenda"));
    // The icon's pictures: ARGB in network order, red.
    const QDBusArgument pixmaps = itemProperty(service, QStringLiteral("IconPixmap")).value<QDBusArgument>();
    int width = 0;
    int height = 0;
    QByteArray bytes;
    pixmaps.beginArray();
    ASSERT_FALSE(pixmaps.atEnd());
    pixmaps.beginStructure();
    pixmaps >> width >> height >> bytes;
    pixmaps.endStructure();
    EXPECT_GT(width, 0);
    ASSERT_EQ(bytes.size(), width * height * 4);
    EXPECT_EQ(bytes.left(4), QByteArray("\xff\xff\x00\x00", 4));

    // What the menu shows follows the state the icon shows, for hosts that never ask.
    const int before = fillings;
    paused = true;
    tray.setIcon(QIcon(picture));
    EXPECT_TRUE(waitFor([&] { return fillings > before; }));

    tray.setToolTip(QStringLiteral("2 jobs"));
    const QDBusArgument tip = itemProperty(service, QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString icon;
    QString title;
    QString text;
    tip.beginStructure();
    tip >> icon;
    tip.beginArray();
    EXPECT_TRUE(tip.atEnd()); // the icon shows beside it already
    tip.endArray();
    tip >> title >> text;
    tip.endStructure();
    EXPECT_EQ(title, QStringLiteral("Quorvenda"));
    EXPECT_EQ(text, QStringLiteral("2 jobs"));

    // A host that drops the item while it is there (GNOME's AppIndicator extension, on a race
    // of its own) has it again, a few times at most; another item dropped changes nothing.
    const auto dropped = [&](const QString& which) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                                         QStringLiteral("StatusNotifierItemUnregistered"));
        signal << which;
        hostBus.send(signal);
    };
    dropped(QStringLiteral("org.kde.StatusNotifierItem-1-1"));
    for (int again = 1; again <= 4; ++again) {
        dropped(service);
        EXPECT_EQ(waitFor([&] { return watcher->items().size() > again; }, again <= 3 ? 10000 : 1000), again <= 3)
            << watcher->items().join(QLatin1Char(' ')).toStdString();
    }
    EXPECT_EQ(watcher->items().size(), 4);
    EXPECT_EQ(watcher->items().count(service), 4);
}

TEST_F(StatusNotifierTrayTest, TheMenuIsFilledWhenAboutToShowAndKeepsItsIdsWhenFilledAfresh)
{
    StatusNotifierTray tray(&menu, item());
    const QString service = tray.item().serviceName();
    // waybar reads the top level without asking AboutToShow first: it is there by the time
    // anyone can ask, filled once.
    for (const auto& [path, method] : {std::pair{StatusNotifierItem::menuPath, QStringLiteral("GetLayout")},
                                       std::pair{StatusNotifierItem::itemPath, QStringLiteral("ContextMenu")}}) {
        const QDBusMessage xml = ask(client, service, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                     QStringLiteral("Introspect"), {});
        EXPECT_TRUE(xml.arguments().value(0).toString().contains(QStringLiteral("<method name=\"%1\">").arg(method)))
            << qPrintable(xml.arguments().value(0).toString());
    }
    EXPECT_EQ(fillings, 1);
    uint revision = 0;
    const Entry first = layout(service, &revision);
    EXPECT_EQ(describe(first),
              QStringLiteral("{_Convert Copied Files…,Recent__Conversions{Nothing yet(off)},-,[ ]Pause Wheel,Quit Quorvenda}"));

    // Opened with nothing changed: the same items under the same ids, nothing to fetch.
    EXPECT_FALSE(aboutToShow(service, 0));
    EXPECT_EQ(fillings, 2);
    uint again = 0;
    const Entry second = layout(service, &again);
    EXPECT_EQ(ids(second), ids(first));
    EXPECT_EQ(again, revision);

    // A changed toggle: the same ids, and the same layout revision (its properties tell).
    paused = true;
    EXPECT_TRUE(aboutToShow(service, 0));
    const Entry third = layout(service, &again);
    EXPECT_EQ(again, revision);
    EXPECT_EQ(ids(third), ids(first));
    EXPECT_EQ(describe(third.children.value(3)), QStringLiteral("[x]Pause Wheel"));

    // A result comes into the submenu: LayoutUpdated names the submenu, the one level Plasma reads
    // again.
    const int recent = third.children.value(1).id;
    DBusSignalRecorder layouts(client, service, StatusNotifierItem::menuPath, kMenu, {QStringLiteral("LayoutUpdated")});
    recents = {QStringLiteral("a.png")};
    EXPECT_TRUE(aboutToShow(service, 0));
    ASSERT_TRUE(waitFor([&] { return !layouts.messages.isEmpty(); }));
    for (const QDBusMessage& signal : std::as_const(layouts.messages))
        EXPECT_EQ(signal.arguments().value(1).toInt(), recent);
    EXPECT_EQ(describe(layout(service).children.value(1)), QStringLiteral("Recent__Conversions{a.png}"));
    // Two entries of one name are two items.
    recents = {QStringLiteral("a.png"), QStringLiteral("a.png")};
    aboutToShow(service, 0);
    const Entry twice = layout(service).children.value(1);
    EXPECT_EQ(describe(twice), QStringLiteral("Recent__Conversions{a.png,a.png}"));
    EXPECT_NE(twice.children.value(0).id, twice.children.value(1).id);

    // A submenu's own opening fills the whole menu, which libdbusmenu never asks for.
    aboutToShow(service, recent);
    EXPECT_EQ(fillings, 6);
    const QDBusMessage properties = ask(client, service, StatusNotifierItem::menuPath, kMenu, QStringLiteral("GetGroupProperties"),
                                        {QVariant::fromValue(QList<int>{recent}), QStringList{QStringLiteral("label")}});
    ASSERT_EQ(properties.type(), QDBusMessage::ReplyMessage) << qPrintable(properties.errorMessage());
    const QList<std::pair<int, QVariantMap>> values{{recent, {{QStringLiteral("label"), QStringLiteral("Recent__Conversions")}}}};
    EXPECT_EQ(readProperties(properties.arguments().value(0)), values);
}

TEST_F(StatusNotifierTrayTest, AClickInTheHostsMenuRunsTheCommandAndAnUnknownItemIsAnError)
{
    StatusNotifierTray tray(&menu, item());
    const QString service = tray.item().serviceName();
    aboutToShow(service, 0);
    const int quit = layout(service).children.value(4).id;
    const auto event = [&](int id, const QString& type) {
        return ask(client, service, StatusNotifierItem::menuPath, kMenu, QStringLiteral("Event"),
                   {id, type, QVariant::fromValue(QDBusVariant(0)), 0u});
    };
    const QDBusMessage reply = event(quit, QStringLiteral("clicked"));
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    EXPECT_TRUE(waitFor([&] { return quits == 1; }));
    // Hovering is no click.
    event(quit, QStringLiteral("hovered"));
    event(quit, QStringLiteral("clicked"));
    EXPECT_TRUE(waitFor([&] { return quits == 2; }));
    EXPECT_EQ(event(9999, QStringLiteral("clicked")).type(), QDBusMessage::ErrorMessage);
}

// The application's own menu, over a running job, in a tray host: what changes while the host
// shows it is what it shows.
void StatusNotifierTrayTest::menuStaysLive(const std::function<std::unique_ptr<MenuHost>(const QString& service)>& makeHost,
                                           const std::function<void()>& afterCancel)
{
    QTemporaryDir dir;
    SettingsStore store{QString()};
    registerDefaultSettings(store);
    FakeClock clock;
    NoWorkspace workspace;
    JobCenter center(store, clock);
    MenuActions actions(center, store, workspace);
    StatusNotifierTray* tray = nullptr;
    StatusItemController controller(center, store, actions, [&](QMenu* menu) {
        auto made = std::make_unique<StatusNotifierTray>(menu, item());
        tray = made.get();
        return made;
    });
    actions.setStatusIndicator(&controller);
    JobCenter::Services services;
    services.status = &controller;
    center.setServices(services);
    controller.setUp();
    ASSERT_TRUE(tray);

    const std::unique_ptr<MenuHost> made = makeHost(tray->item().serviceName());
    MenuHost& host = *made;
    const QString top = QStringLiteral("{Convert Copied Files…,Recent Conversions{%1},%2,-,[%3]Pause Wheel,-,Settings…,"
                                       "Getting Started…,Quit Quorvenda}");
    const QString nothing = QStringLiteral("Nothing yet(off)");
    const QString noJobs = QStringLiteral("Active Jobs{No jobs running(off)}");
    host.shows(top.arg(nothing, noJobs, QStringLiteral(" ")));

    // A job that runs until it is cancelled, a hundredth done.
    std::atomic<bool> started{false};
    WheelEntry entry;
    entry.operations = {test::operationUntilCancelled(started, 1)};
    const QString input = test::writeFile(dir.filePath(QStringLiteral("notes.txt")));
    const JobPtr job = center.submit(entry, {fileInfoForURL(QUrl::fromLocalFile(input))}, {}, std::nullopt);
    ASSERT_TRUE(job);
    ASSERT_TRUE(waitFor([&] { return started.load(); }));
    const QString running = QStringLiteral("Active Jobs (1){Waiting: notes.txt — 1 %(off),\u2003Cancel}");
    host.shows(top.arg(nothing, running, QStringLiteral(" ")));

    // A result, and the wheel paused from the host's menu.
    const QString result = test::writeFile(dir.filePath(QStringLiteral("out/long.webm")));
    center.rememberRecent({QUrl::fromLocalFile(result)});
    const QString recent = QStringLiteral("long.webm{Show in Folder,Open},-,Clear Menu");
    host.shows(top.arg(recent, running, QStringLiteral(" ")));
    host.open({});
    host.click({QStringLiteral("Pause Wheel")});
    host.shows(top.arg(recent, running, QStringLiteral("x")));
    EXPECT_TRUE(store.boolValue(SettingsKey::paused));

    // Cancel, as the host shows it.
    host.open({QStringLiteral("Active Jobs")});
    host.click({QStringLiteral("Active Jobs"), QStringLiteral("Cancel")});
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }));
    EXPECT_EQ(job->state(), Job::State::cancelled);
    host.shows(top.arg(recent, noJobs, QStringLiteral("x")));
    if (afterCancel)
        afterCancel();
}

TEST_F(StatusNotifierTrayTest, PillsStandClearOfTheMenuTheHostShows)
{
    struct NoClipboard : Clipboard {
        void setText(const QString&) override {}
        void setFiles(const QList<QUrl>&) override {}
    } clipboard;
    NoWorkspace workspace;
    FakeScreens screens;
    // A bar 30 high at the top; the pills stand in its right corner, as the host's menu does.
    screens.list = {{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050)}};
    qputenv("QUORVENDA_REDUCE_MOTION", "1");
    const auto motion = qScopeGuard([] { qunsetenv("QUORVENDA_REDUCE_MOTION"); });
    JobHUD hud(JobHUD::Services{&screens, &clipboard, &workspace, [](const JobPtr&) {}});
    auto job = std::make_shared<Job>(QStringLiteral("Converting to PNG"), QStringLiteral("photo.stack"), 1,
                                     QStringLiteral("a.png"), std::nullopt, QDateTime::currentDateTimeUtc());
    job->setState(Job::State::running);
    hud.show(job);
    HUDPanel* pill = hud.pillFor(job->id())->panel();
    ASSERT_TRUE(waitFor([&] { return pill->isShown() && !pill->isAnimating(); }));
    const int home = pill->geometry().top();

    StatusNotifierTray tray(&menu, item());
    QObject::connect(&tray, &StatusNotifierTray::menuRoomChanged, &hud, &JobHUD::setTrayMenuRoom);
    const QString service = tray.item().serviceName();
    const Entry top = layout(service);
    const auto event = [&](int id, const QString& type) {
        const QDBusMessage reply = ask(client, service, StatusNotifierItem::menuPath, kMenu, QStringLiteral("Event"),
                                       {id, type, QVariant::fromValue(QDBusVariant(0)), 0u});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    };
    const int menuHeight = menu.sizeHint().height();
    ASSERT_GT(menuHeight, 0);
    // The stack's top stays below where the menu can reach, under the bar.
    const auto clearBy = [&](int room) {
        return waitFor([&] { return pill->isShown() && pill->geometry().top() >= 30 + room; });
    };

    event(0, QStringLiteral("opened"));
    EXPECT_TRUE(clearBy(menuHeight)) << pill->geometry().top() << " under a menu " << menuHeight << " high";
    // A submenu hangs beside an entry of the menu: the stack moves further.
    const int recent = top.children.value(1).id;
    event(recent, QStringLiteral("opened"));
    EXPECT_GT(tray.menuRoom(), menuHeight);
    EXPECT_TRUE(clearBy(int(tray.menuRoom())));
    event(recent, QStringLiteral("closed"));
    event(0, QStringLiteral("closed"));
    EXPECT_TRUE(waitFor([&] { return pill->geometry().top() == home; })) << pill->geometry().top() << " ≠ " << home;
    EXPECT_EQ(tray.menuRoom(), 0);

    // A click closes the menu whatever the host says after.
    event(0, QStringLiteral("opened"));
    EXPECT_TRUE(clearBy(menuHeight));
    event(top.children.value(0).id, QStringLiteral("clicked"));
    EXPECT_TRUE(waitFor([&] { return pill->geometry().top() == home; })) << pill->geometry().top() << " ≠ " << home;

    // libdbusmenu tells of the menu's showing only by asking it to fill itself.
    const QDBusMessage reply = ask(client, service, StatusNotifierItem::menuPath, kMenu, QStringLiteral("AboutToShowGroup"),
                                   {QVariant::fromValue(QList<int>{0})});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    EXPECT_TRUE(clearBy(menuHeight));
    event(top.children.value(0).id, QStringLiteral("clicked"));
    EXPECT_TRUE(waitFor([&] { return pill->geometry().top() == home; })) << pill->geometry().top() << " ≠ " << home;
}

TEST_F(StatusNotifierTrayTest, TheApplicationsMenuStaysLiveInAnAppIndicatorHost)
{
    AppIndicatorHost* host = nullptr;
    menuStaysLive(
        [&](const QString& service) {
            auto made = std::make_unique<AppIndicatorHost>(client, service);
            host = made.get();
            return made;
        },
        [&] {
            // The ended job's Cancel is gone: a host that clicks it late cancels nothing else.
            ASSERT_GT(host->lastClicked, 0);
            EXPECT_EQ(host->event(host->lastClicked, QStringLiteral("clicked")).type(), QDBusMessage::ErrorMessage);
        });
}

TEST_F(StatusNotifierTrayTest, TheApplicationsMenuStaysLiveInLibdbusmenu)
{
    if (!LibdbusmenuHost::isInstalled())
        GTEST_SKIP() << "libdbusmenu's GObject bindings are not installed (gir1.2-dbusmenu-glib-0.4)";
    menuStaysLive([&](const QString& service) { return std::make_unique<LibdbusmenuHost>(address, service); });
}
