// The tray icon as tray hosts read it over D-Bus: the StatusNotifierItem registers with the
// watcher and says it is a menu; its menu answers GetLayout, AboutToShow and Event as
// libdbusmenu (waybar, GNOME's AppIndicator) and Plasma ask them.

#include "app/tray/StatusNotifierTray.h"
#include "support/PrivateBusTest.h"
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
#include <QThread>

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

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

// One menu entry as the host sees it: "label" or "-" for a separator, "(off)" when disabled,
// "[x]"/"[ ]" for a checkmark, and its children in braces.
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

QString describe(const Entry& entry)
{
    QString text;
    if (entry.properties.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
        text = QStringLiteral("-");
    else
        text = entry.properties.value(QStringLiteral("label")).toString();
    if (entry.properties.contains(QStringLiteral("toggle-type")))
        text.prepend(entry.properties.value(QStringLiteral("toggle-state")).toInt() ? QStringLiteral("[x]")
                                                                                   : QStringLiteral("[ ]"));
    if (!entry.properties.value(QStringLiteral("enabled"), true).toBool())
        text += QStringLiteral("(off)");
    if (!entry.children.isEmpty()) {
        QStringList children;
        for (const Entry& child : entry.children)
            children.append(describe(child));
        text += QLatin1Char('{') + children.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    return text;
}

QList<int> ids(const Entry& entry)
{
    QList<int> all{entry.id};
    for (const Entry& child : entry.children)
        all += ids(child);
    return all;
}

class StatusNotifierTrayTest : public PrivateBusTest {
protected:
    void SetUp() override
    {
        PrivateBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        thread.start();
        hostBus = connection(QStringLiteral("host"));
        watcher = new FakeWatcher;
        watcher->moveToThread(&thread);
        ASSERT_TRUE(hostBus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), watcher));
        ASSERT_TRUE(hostBus.registerService(kWatcher));
        client = connection(QStringLiteral("client"));

        // Filled afresh each time it opens, as the application's tray menu is.
        QObject::connect(&menu, &QMenu::aboutToShow, [this] {
            ++fillings;
            menu.clear();
            menu.addAction(QStringLiteral("&Convert Copied Files…"));
            QMenu* recent = menu.addMenu(QStringLiteral("Recent_Conversions"));
            recent->addAction(QStringLiteral("Nothing yet"))->setEnabled(false);
            menu.addSeparator();
            QAction* pause = menu.addAction(QStringLiteral("Pause Wheel"));
            pause->setCheckable(true);
            pause->setChecked(paused);
            QObject::connect(menu.addAction(QStringLiteral("Quit Quorvenda")), &QAction::triggered,
                             [this] { ++quits; });
        });
    }
    void TearDown() override
    {
        if (watcher) {
            hostBus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
            QMetaObject::invokeMethod(watcher, [this] { delete watcher; }, Qt::BlockingQueuedConnection);
        }
        thread.quit();
        thread.wait();
        PrivateBusTest::TearDown();
    }

    // A call from the host, answered by the item in this thread.
    QDBusMessage ask(const QString& service, const QString& path, const QString& interface,
                     const QString& method, const QList<QVariant>& arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(arguments);
        QDBusPendingCall pending = client.asyncCall(call);
        waitFor([&] { return pending.isFinished(); });
        return pending.reply();
    }

    QVariant itemProperty(const QString& service, const QString& name)
    {
        const QDBusMessage reply = ask(service, StatusNotifierTray::itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    Entry layout(const QString& service, uint* revision = nullptr)
    {
        const QDBusMessage reply = ask(service, StatusNotifierTray::menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                       QStringLiteral("GetLayout"), {0, -1, QStringList{}});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        if (revision)
            *revision = reply.arguments().value(0).toUInt();
        return readEntry(reply.arguments().value(1).value<QDBusArgument>());
    }

    bool aboutToShow(const QString& service, int id)
    {
        const QDBusMessage reply = ask(service, StatusNotifierTray::menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                       QStringLiteral("AboutToShow"), {id});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        return reply.arguments().value(0).toBool();
    }

    QThread thread;
    QDBusConnection hostBus{QString()};
    QDBusConnection client{QString()};
    FakeWatcher* watcher = nullptr;
    QMenu menu;
    int fillings = 0;
    int quits = 0;
    bool paused = false;
};

} // namespace

TEST_F(StatusNotifierTrayTest, TheItemRegistersWithItsIconAndSaysItIsAMenu)
{
    StatusNotifierTray tray(&menu, connection(QStringLiteral("app")));
    EXPECT_TRUE(StatusNotifierTray::hostRuns(client));
    // Nothing shows before the first icon.
    waitFor([] { return false; }, 100);
    EXPECT_TRUE(watcher->items().isEmpty());
    QPixmap picture(32, 32);
    picture.fill(Qt::red);
    tray.setIcon(QIcon(picture));
    ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); }));
    const QString service = watcher->items().constFirst();
    EXPECT_EQ(service, tray.serviceName());

    EXPECT_TRUE(itemProperty(service, QStringLiteral("ItemIsMenu")).toBool());
    EXPECT_EQ(qdbus_cast<QDBusObjectPath>(itemProperty(service, QStringLiteral("Menu"))).path(), StatusNotifierTray::menuPath);
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
}

TEST_F(StatusNotifierTrayTest, TheMenuIsFilledWhenAboutToShowAndKeepsItsIdsWhenFilledAfresh)
{
    StatusNotifierTray tray(&menu, connection(QStringLiteral("app")));
    const QString service = tray.serviceName();
    // waybar reads the top level without asking AboutToShow first: it is there already.
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

    // A change shows as a new revision of the same ids.
    paused = true;
    EXPECT_TRUE(aboutToShow(service, 0));
    const Entry third = layout(service, &again);
    EXPECT_GT(again, revision);
    EXPECT_EQ(ids(third), ids(first));
    EXPECT_EQ(describe(third.children.value(3)), QStringLiteral("[x]Pause Wheel"));

    // A submenu's own opening.
    const int recent = third.children.value(1).id;
    aboutToShow(service, recent);
    const QDBusMessage properties = ask(service, StatusNotifierTray::menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                        QStringLiteral("GetGroupProperties"),
                                        {QVariant::fromValue(QList<int>{recent}), QStringList{QStringLiteral("label")}});
    ASSERT_EQ(properties.type(), QDBusMessage::ReplyMessage) << qPrintable(properties.errorMessage());
    const QDBusArgument list = properties.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    ASSERT_FALSE(list.atEnd());
    int id = 0;
    QVariantMap values;
    list.beginStructure();
    list >> id >> values;
    list.endStructure();
    EXPECT_EQ(id, recent);
    EXPECT_EQ(values, (QVariantMap{{QStringLiteral("label"), QStringLiteral("Recent__Conversions")}}));
}

TEST_F(StatusNotifierTrayTest, AClickInTheHostsMenuRunsTheCommandAndAnUnknownItemIsAnError)
{
    StatusNotifierTray tray(&menu, connection(QStringLiteral("app")));
    const QString service = tray.serviceName();
    aboutToShow(service, 0);
    const Entry entries = layout(service);
    const int quit = entries.children.value(4).id;
    const QDBusMessage reply = ask(service, StatusNotifierTray::menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                   QStringLiteral("Event"),
                                   {quit, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    EXPECT_TRUE(waitFor([&] { return quits == 1; }));
    // Hovering is no click.
    ask(service, StatusNotifierTray::menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
        {quit, QStringLiteral("hovered"), QVariant::fromValue(QDBusVariant(0)), 0u});
    waitFor([] { return false; }, 50);
    EXPECT_EQ(quits, 1);
    const QDBusMessage unknown = ask(service, StatusNotifierTray::menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                     QStringLiteral("Event"),
                                     {9999, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(unknown.type(), QDBusMessage::ErrorMessage);
}
