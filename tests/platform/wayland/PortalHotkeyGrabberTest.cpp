#include "model/settings/SettingsKeys.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/PortalHotkeyGrabber.h"
#include "support/FakeHotkeyGrabber.h"
#include "support/LogCapture.h"
#include "support/PrivateBusTest.h"
#include "support/RealPortal.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QThread>

using namespace qv;

namespace {

struct BoundShortcut {
    QString id;
    QVariantMap properties;
};

} // namespace

Q_DECLARE_METATYPE(BoundShortcut)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const BoundShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, BoundShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// A desktop portal that offers GlobalShortcuts as xdg-desktop-portal 1.16 does: every call
// answers a request path at once and its result later, as the Response signal on that path.
// It runs in a thread of its own, since the grabber waits for its answers.
class FakePortal : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    struct Call {
        QString method;
        QString sender;
        QList<BoundShortcut> shortcuts;
        QString session;
    };

    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    QString sessionPath() const { return kPortalPath + QStringLiteral("/session/1_1/quorvenda"); }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
            if (member != QLatin1String("Get") || args.value(0).toString() != kShortcutsInterface)
                return false;
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            return true;
        }
        if (message.interface() != kShortcutsInterface)
            return false;
        Call call{member, message.service(), {}, {}};
        QVariantMap options;
        if (member == QLatin1String("CreateSession")) {
            options = qdbus_cast<QVariantMap>(args.value(0));
            call.shortcuts = qdbus_cast<QList<BoundShortcut>>(options.value(QStringLiteral("shortcuts")));
        } else if (member == QLatin1String("BindShortcuts")) {
            call.session = qdbus_cast<QDBusObjectPath>(args.value(0)).path();
            call.shortcuts = qdbus_cast<QList<BoundShortcut>>(args.value(1));
            options = qdbus_cast<QVariantMap>(args.value(3));
        } else {
            return false;
        }
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append(call);
        }
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString request = kPortalPath + QStringLiteral("/request/%1/%2")
                                                  .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));

        QVariantMap results;
        if (member == QLatin1String("CreateSession")) {
            results.insert(QStringLiteral("session_handle"), sessionPath());
        } else {
            QList<BoundShortcut> bound = call.shortcuts;
            for (BoundShortcut& shortcut : bound)
                shortcut.properties.insert(QStringLiteral("trigger_description"), QStringLiteral("Alt+Shift+Space"));
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(bound));
        }
        QDBusMessage response = QDBusMessage::createTargetedSignal(
            message.service(), request, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"));
        response << uint(0) << results;
        connection.send(response);
        return true;
    }

    void activate(const QString& id)
    {
        QDBusMessage signal =
            QDBusMessage::createSignal(kPortalPath, kShortcutsInterface, QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(sessionPath())) << id << qulonglong(1)
               << QVariantMap();
        m_bus.send(signal);
    }

private:
    QDBusConnection m_bus;
    mutable QMutex m_mutex;
    QList<Call> m_calls;
};

class PortalHotkey : public test::PrivateBusTest {
protected:
    void SetUp() override
    {
        PrivateBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        qDBusRegisterMetaType<BoundShortcut>();
        qDBusRegisterMetaType<QList<BoundShortcut>>();
        thread.start();
        portalBus = connection(QStringLiteral("portal"));
        ASSERT_TRUE(portalBus.isConnected());
    }
    void TearDown() override
    {
        if (portal) {
            portalBus.unregisterObject(kPortalPath);
            QMetaObject::invokeMethod(portal, [this] { delete portal; }, Qt::BlockingQueuedConnection);
        }
        thread.quit();
        thread.wait();
        PrivateBusTest::TearDown();
    }

    void startPortal()
    {
        portal = new FakePortal(portalBus);
        portal->moveToThread(&thread);
        ASSERT_TRUE(portalBus.registerVirtualObject(kPortalPath, portal));
        ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    QThread thread;
    QDBusConnection portalBus{QString()};
    FakePortal* portal = nullptr;
};

// The desktop's side of the real portal (xdg-desktop-portal): the backend a desktop installs,
// org.freedesktop.impl.portal.GlobalShortcuts, answering in the method reply.
class FakeShortcutsBackend : public QDBusVirtualObject {
public:
    struct Call {
        QString method;
        QString session;
        QList<BoundShortcut> shortcuts;
    };

    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != QLatin1String("org.freedesktop.impl.portal.GlobalShortcuts"))
            return false;
        const QList<QVariant> args = message.arguments();
        Call call{message.member(), qdbus_cast<QDBusObjectPath>(args.value(1)).path(), {}};
        QVariantMap results;
        if (message.member() == QLatin1String("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(args.value(3));
            call.shortcuts = qdbus_cast<QList<BoundShortcut>>(options.value(QStringLiteral("shortcuts")));
        } else if (message.member() == QLatin1String("BindShortcuts")) {
            call.shortcuts = qdbus_cast<QList<BoundShortcut>>(args.value(2));
            QList<BoundShortcut> bound = call.shortcuts;
            for (BoundShortcut& shortcut : bound)
                shortcut.properties.insert(QStringLiteral("trigger_description"), QStringLiteral("Alt+Shift+Space"));
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(bound));
        } else {
            return false;
        }
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append(call);
        }
        connection.send(message.createReply({uint(0), results}));
        return true;
    }

    void activate(QDBusConnection& bus, const QString& session, const QString& id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            kPortalPath, QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1) << QVariantMap();
        bus.send(signal);
    }

private:
    mutable QMutex m_mutex;
    QList<Call> m_calls;
};

} // namespace

// Through xdg-desktop-portal itself, with a desktop backend of the test's own: the portal takes
// the shortcut in CreateSession's options (which KDE Plasma 5.27's backend reads) and in
// BindShortcuts, and hands the backend's Activated on.
TEST_F(PortalHotkey, ThroughTheRealPortalToADesktopBackend)
{
    if (!test::RealPortal::isInstalled())
        GTEST_SKIP() << "xdg-desktop-portal is not installed";
    auto* backend = new FakeShortcutsBackend;
    backend->moveToThread(&thread);
    ASSERT_TRUE(portalBus.registerVirtualObject(kPortalPath, backend));
    ASSERT_TRUE(portalBus.registerService(test::RealPortal::backendName));

    test::RealPortal portal;
    QDBusConnection app = connection(QStringLiteral("app"));
    ASSERT_TRUE(portal.start(address, {QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts")}, app))
        << portal.output();

    SettingsStore store{QString()};
    PortalHotkeyGrabber grabber(app);
    HotkeyCenter center(grabber, store);
    int conversions = 0;
    QObject::connect(&center, &HotkeyCenter::convertRequested, [&] { ++conversions; });
    QString bound;
    QObject::connect(&grabber, &PortalHotkeyGrabber::bound, [&](const QString& t) { bound = t; });
    center.installHotkeyHandler();
    ASSERT_TRUE(test::waitFor([&] { return !bound.isEmpty(); })) << portal.output();
    EXPECT_EQ(bound, QStringLiteral("Alt+Shift+Space"));

    const QList<FakeShortcutsBackend::Call> calls = backend->calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].method, QStringLiteral("CreateSession"));
    EXPECT_EQ(calls[1].method, QStringLiteral("BindShortcuts"));
    for (const FakeShortcutsBackend::Call& call : calls) {
        ASSERT_EQ(call.shortcuts.size(), 1) << qPrintable(call.method);
        EXPECT_EQ(call.shortcuts[0].id, QStringLiteral("convert-copied"));
        EXPECT_EQ(call.shortcuts[0].properties.value(QStringLiteral("preferred_trigger")).toString(),
                  QStringLiteral("ALT+SHIFT+space"));
    }
    EXPECT_EQ(calls[1].session, calls[0].session);
    EXPECT_EQ(grabber.sessionHandle(), calls[0].session);

    backend->activate(portalBus, calls[0].session, QStringLiteral("convert-copied"));
    EXPECT_TRUE(test::waitFor([&] { return conversions == 1; })) << portal.output();

    portal.stop();
    portalBus.unregisterObject(kPortalPath);
    QMetaObject::invokeMethod(backend, [backend] { delete backend; }, Qt::BlockingQueuedConnection);
}

TEST(PortalHotkeyGrabber, TheShortcutInThePortalsWords)
{
    EXPECT_EQ(PortalHotkeyGrabber::preferredTrigger(Shortcut::defaultShortcut()),
              QStringLiteral("ALT+SHIFT+space"));
    EXPECT_EQ(PortalHotkeyGrabber::preferredTrigger(
                  Shortcut{122, Shortcut::superKey | Shortcut::controlKey}),
              QStringLiteral("CTRL+LOGO+F1"));
    EXPECT_EQ(PortalHotkeyGrabber::preferredTrigger(Shortcut{0, Shortcut::controlKey}),
              QStringLiteral("CTRL+a"));
}

TEST_F(PortalHotkey, SessionAndBindingCarryTheShortcutAndActivatedConverts)
{
    startPortal();
    SettingsStore store{QString()};
    PortalHotkeyGrabber grabber(connection(QStringLiteral("app")));
    HotkeyCenter center(grabber, store);
    int conversions = 0;
    QObject::connect(&center, &HotkeyCenter::convertRequested, [&] { ++conversions; });
    QString bound;
    QObject::connect(&grabber, &PortalHotkeyGrabber::bound, [&](const QString& t) { bound = t; });

    center.installHotkeyHandler();
    ASSERT_TRUE(test::waitFor([&] { return !bound.isEmpty(); }));
    EXPECT_TRUE(grabber.usesPortal());
    EXPECT_EQ(bound, QStringLiteral("Alt+Shift+Space"));
    EXPECT_EQ(grabber.sessionHandle(), portal->sessionPath());

    // KDE Plasma 5.27 takes the shortcuts from CreateSession, the portal's own words from
    // BindShortcuts: both carry the key.
    const QList<FakePortal::Call> calls = portal->calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].method, QStringLiteral("CreateSession"));
    EXPECT_EQ(calls[1].method, QStringLiteral("BindShortcuts"));
    EXPECT_EQ(calls[1].session, portal->sessionPath());
    for (const FakePortal::Call& call : calls) {
        ASSERT_EQ(call.shortcuts.size(), 1) << qPrintable(call.method);
        EXPECT_EQ(call.shortcuts[0].id, QStringLiteral("convert-copied"));
        EXPECT_EQ(call.shortcuts[0].properties.value(QStringLiteral("preferred_trigger")).toString(),
                  QStringLiteral("ALT+SHIFT+space"));
        EXPECT_FALSE(call.shortcuts[0].properties.value(QStringLiteral("description")).toString().isEmpty());
    }

    portal->activate(QStringLiteral("convert-copied"));
    ASSERT_TRUE(test::waitFor([&] { return conversions == 1; }));

    // Another application's shortcut, or a press while paused, converts nothing.
    portal->activate(QStringLiteral("something-else"));
    store.setValue(SettingsKey::paused, true);
    portal->activate(QStringLiteral("convert-copied"));
    test::waitFor([] { return false; }, 300);
    EXPECT_EQ(conversions, 1);
    store.setValue(SettingsKey::paused, false);

    // A new shortcut is bound in the same session; none at all ignores presses.
    bound.clear();
    center.setShortcut(Shortcut{122, Shortcut::superKey});
    ASSERT_TRUE(test::waitFor([&] { return !bound.isEmpty(); }));
    ASSERT_EQ(portal->calls().size(), 3);
    EXPECT_EQ(portal->calls()[2].shortcuts.value(0).properties.value(QStringLiteral("preferred_trigger")),
              QStringLiteral("LOGO+F1"));
    center.setShortcut(std::nullopt);
    portal->activate(QStringLiteral("convert-copied"));
    test::waitFor([] { return false; }, 300);
    EXPECT_EQ(conversions, 1);
}

TEST_F(PortalHotkey, WithoutThePortalTheFallbackTakesTheKeyAndTheLogSaysWhy)
{
    SettingsStore store{QString()};
    auto fallback = std::make_unique<test::FakeHotkeyGrabber>();
    test::FakeHotkeyGrabber* x11 = fallback.get();
    PortalHotkeyGrabber grabber(connection(QStringLiteral("app")), std::move(fallback));
    HotkeyCenter center(grabber, store);
    int conversions = 0;
    QObject::connect(&center, &HotkeyCenter::convertRequested, [&] { ++conversions; });
    test::LogCapture log;
    bool ready = false;
    QObject::connect(&grabber, &PortalHotkeyGrabber::ready, [&] { ready = true; });
    // The application does not wait for the portal's answer.
    center.installHotkeyHandler();
    EXPECT_FALSE(ready);
    ASSERT_TRUE(test::waitFor([&] { return ready; }));
    EXPECT_FALSE(grabber.usesPortal());
    EXPECT_EQ(x11->held, Shortcut::defaultShortcut());
    bool said = false;
    for (const test::LogCapture::Line& line : log.lines())
        said = said || (line.message.contains(QStringLiteral("no GlobalShortcuts portal"))
                        && line.message.contains(QStringLiteral("quorvenda --convert-copied")));
    EXPECT_TRUE(said);
    x11->press();
    EXPECT_TRUE(test::waitFor([&] { return conversions == 1; }));

    // A refused X11 grab names the X11 call and the reason.
    x11->grabStatus = 10;
    test::LogCapture refused;
    center.setShortcut(Shortcut{122, Shortcut::superKey});
    EXPECT_TRUE(refused.contains(QStringLiteral("quorvenda.app"),
                                 QStringLiteral("FakeGrab Super+F1 failed: 10 (status 10)")));
}
