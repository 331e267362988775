#include "platform/feedback/DBusNotifications.h"

#include "support/WaitFor.h"
#include "support/PrivateBusTest.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>

using namespace qv;
using qv::test::waitFor;

namespace {

// A notification server of our own on a private bus, so tests never reach the desktop's.
class FakeNotificationServer : public QDBusVirtualObject {
public:
    QList<QVariantList> calls; // the arguments of each Notify

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Notify"))
            return false;
        calls.append(message.arguments());
        connection.send(message.createReply(QVariant::fromValue(uint(100 + calls.size()))));
        return true;
    }
};

class NotificationBus : public test::PrivateBusTest {};

struct Recorder {
    explicit Recorder(DBusNotifications& notifications)
    {
        QObject::connect(&notifications, &DesktopNotifications::posted, [this](uint id) { posted.append(id); });
        QObject::connect(&notifications, &DesktopNotifications::failed,
                         [this](const QString& message) { failures.append(message); });
        QObject::connect(&notifications, &DesktopNotifications::actionInvoked,
                         [this](const QString& action, const QVariant& payload) {
                             clicks.append({action, payload});
                         });
    }
    QList<uint> posted;
    QStringList failures;
    QList<std::pair<QString, QVariant>> clicks;
};

} // namespace

TEST_F(NotificationBus, PostsAndHandsBackThePayloadOfAClickUntilTheNotificationCloses)
{
    QDBusConnection server = connection(QStringLiteral("fake-server"));
    FakeNotificationServer fake;
    ASSERT_TRUE(server.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &fake));
    ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));

    DBusNotifications notifications(connection(QStringLiteral("client")));
    Recorder recorder(notifications);

    DesktopNotifications::Notification first;
    first.summary = QStringLiteral("Saved 2 files");
    first.body = QStringLiteral("Converting to ZIP finished in 13 s");
    first.actions = {{QStringLiteral("default"), QStringLiteral("Open")}, {QStringLiteral("reveal"), QStringLiteral("Show")}};
    first.category = QStringLiteral("transfer.complete");
    first.payload = QStringList{QStringLiteral("/tmp/a"), QStringLiteral("/tmp/b")};
    notifications.post(first);
    ASSERT_TRUE(waitFor([&] { return recorder.posted.size() == 1; }));
    ASSERT_EQ(fake.calls.size(), 1);
    const QVariantList args = fake.calls[0];
    ASSERT_EQ(args.size(), 8);
    EXPECT_EQ(args[0].toString(), QStringLiteral("Quorvenda"));
    EXPECT_EQ(args[1].toUInt(), 0u) << "replaces nothing";
    EXPECT_EQ(args[2].toString(), QStringLiteral("quorvenda"));
    EXPECT_EQ(args[3].toString(), first.summary);
    EXPECT_EQ(args[4].toString(), first.body);
    EXPECT_EQ(args[5].toStringList(), (QStringList{QStringLiteral("default"), QStringLiteral("Open"),
                                                   QStringLiteral("reveal"), QStringLiteral("Show")}));
    const QVariantMap hints = qdbus_cast<QVariantMap>(args[6]);
    EXPECT_EQ(hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("quorvenda"));
    EXPECT_EQ(hints.value(QStringLiteral("category")).toString(), QStringLiteral("transfer.complete"));
    EXPECT_EQ(args[7].toInt(), -1);

    DesktopNotifications::Notification second = first;
    second.category.clear();
    second.payload = QStringList{QStringLiteral("/tmp/c")};
    notifications.post(second);
    ASSERT_TRUE(waitFor([&] { return recorder.posted.size() == 2; }));
    EXPECT_FALSE(qdbus_cast<QVariantMap>(fake.calls[1][6]).contains(QStringLiteral("category")));
    const uint firstId = recorder.posted[0];
    const uint secondId = recorder.posted[1];
    EXPECT_NE(firstId, secondId);
    EXPECT_EQ(notifications.openIds().size(), 2);

    auto signal = [&](const char* member, const QVariantList& args) {
        QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                          QStringLiteral("org.freedesktop.Notifications"),
                                                          QString::fromLatin1(member));
        message.setArguments(args);
        server.send(message);
    };
    // Signals from one sender arrive in order: a later click that counts shows the ones before
    // it were passed over.
    signal("ActionInvoked", {QVariant::fromValue(uint(7)), QStringLiteral("default")});
    signal("ActionInvoked", {QVariant::fromValue(firstId), QStringLiteral("reveal")});
    ASSERT_TRUE(waitFor([&] { return recorder.clicks.size() == 1; }));
    EXPECT_EQ(recorder.clicks[0].first, QStringLiteral("reveal"));
    EXPECT_EQ(recorder.clicks[0].second.toStringList(), first.payload.toStringList());

    signal("NotificationClosed", {QVariant::fromValue(firstId), QVariant::fromValue(uint(2))});
    signal("ActionInvoked", {QVariant::fromValue(firstId), QStringLiteral("default")});
    signal("ActionInvoked", {QVariant::fromValue(secondId), QStringLiteral("default")});
    ASSERT_TRUE(waitFor([&] { return recorder.clicks.size() >= 2; }));
    ASSERT_EQ(recorder.clicks.size(), 2);
    EXPECT_EQ(recorder.clicks[1].first, QStringLiteral("default"));
    EXPECT_EQ(recorder.clicks[1].second.toStringList(), second.payload.toStringList());
    EXPECT_EQ(notifications.openIds(), QList<uint>{secondId});
    EXPECT_TRUE(recorder.failures.isEmpty());
}

TEST_F(NotificationBus, WithoutANotificationServerPostingFails)
{
    DBusNotifications notifications(connection(QStringLiteral("client")));
    Recorder recorder(notifications);
    DesktopNotifications::Notification notification;
    notification.summary = QStringLiteral("Saved a.pdf");
    notification.payload = QStringList{QStringLiteral("/tmp/a.pdf")};
    notifications.post(notification);
    ASSERT_TRUE(waitFor([&] { return !recorder.failures.isEmpty(); }));
    EXPECT_FALSE(recorder.failures[0].isEmpty());
    EXPECT_TRUE(recorder.posted.isEmpty());
    EXPECT_TRUE(notifications.openIds().isEmpty());
}
