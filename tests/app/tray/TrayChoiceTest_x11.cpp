// Which tray the icon goes in on X11, with an XEmbed tray (trayer) running or starting later and
// a watcher on the tests' session bus, running or starting later, that says a host shows items,
// says none does, never answers, or refuses the item; and where it goes when the host quits.

#include "app/RunningApp.h"
#include "app/tray/MenuActions.h"
#include "app/tray/StatusItemController.h"
#include "app/tray/StatusNotifierTray.h"
#include "app/tray/SystemStatusTray.h"
#include "jobs/JobCenter.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/RequireX11.h"
#include "support/Trayer.h"
#include "support/WaitFor.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QMutex>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace qv;
using namespace qv::test;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

enum class Host { shows, none, silent, refuses };

// The desktop's watcher, as a session daemon may leave one behind or a panel runs one, in a
// thread of its own as in a process of its own: it answers while the application waits.
class FakeWatcher : public QDBusVirtualObject {
public:
    explicit FakeWatcher(Host host) : m_host(host) {}
    void setHost(Host host)
    {
        QMutexLocker lock(&m_mutex);
        m_host = host;
    }
    QString introspect(const QString&) const override
    {
        return QStringLiteral("<interface name=\"org.kde.StatusNotifierWatcher\">"
                              "<method name=\"RegisterStatusNotifierItem\"><arg type=\"s\" direction=\"in\"/></method>"
                              "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
                              "</interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QMutexLocker lock(&m_mutex);
        if (message.member() == QLatin1String("Get")
            && message.arguments().value(1).toString() == QLatin1String("IsStatusNotifierHostRegistered")) {
            ++m_asked;
            // Taken, and never answered.
            if (m_host != Host::silent)
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(m_host != Host::none))));
            return true;
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierItem")) {
            m_items.append(message.arguments().value(0).toString());
            connection.send(m_host == Host::refuses
                                ? message.createErrorReply(QStringLiteral("org.kde.StatusNotifierWatcher.Refused"),
                                                           QStringLiteral("no room"))
                                : message.createReply());
            return true;
        }
        return false;
    }

    // How often it was asked whether a host shows items.
    int asked() const
    {
        QMutexLocker lock(&m_mutex);
        return m_asked;
    }
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

private:
    Host m_host;
    mutable QMutex m_mutex;
    int m_asked = 0;
    QStringList m_items;
};

struct NoWorkspace : Workspace {
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>&) override {}
};

class TrayChoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        QV_REQUIRE_X11();
        registerDefaultSettings(store);
        thread.start();
        watcherBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher"));
        if (!watcherBus.isConnected())
            GTEST_SKIP() << "needs a session bus (test.sh runs the tests on one of their own)";
        if (watcherBus.interface()->isServiceRegistered(kWatcher).value())
            GTEST_SKIP() << "the session bus has a StatusNotifierWatcher of its own";
    }

    void TearDown() override
    {
        stop();
        watcherBus = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        thread.quit();
        thread.wait();
        trayer.reset();
    }

    void startTrayer()
    {
        trayer.emplace();
        if (!trayer->whyNot().isEmpty())
            GTEST_SKIP() << trayer->whyNot().toStdString();
    }

    void startWatcher(Host host)
    {
        watcher = std::make_unique<FakeWatcher>(host);
        watcher->moveToThread(&thread);
        ASSERT_TRUE(watcherBus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), watcher.get()));
        ASSERT_TRUE(watcherBus.registerService(kWatcher));
    }

    // The icon and the watcher go.
    void stop()
    {
        controller.reset();
        stopWatcher();
    }

    void stopWatcher()
    {
        if (!watcher)
            return;
        watcherBus.unregisterService(kWatcher);
        watcherBus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        FakeWatcher* gone = watcher.release();
        QMetaObject::invokeMethod(gone, [gone] { delete gone; }, Qt::BlockingQueuedConnection);
    }

    // The watcher says the host that showed items is gone, as a panel's watcher does when the
    // panel quits.
    void hostQuits()
    {
        watcher->setHost(Host::none);
        watcherBus.send(QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                                   QStringLiteral("StatusNotifierHostUnregistered")));
    }

    // The application's tray icon, set up as at its start.
    void setUp()
    {
        controller = std::make_unique<StatusItemController>(center, store, actions);
        controller->setUp();
    }

    // The icon is docked in trayer's panel at the top right.
    bool docked()
    {
        auto* tray = dynamic_cast<SystemStatusTray*>(controller->tray());
        const int screenWidth = QGuiApplication::primaryScreen()->geometry().width();
        return tray && waitFor([&] {
            const QRect icon = tray->iconGeometry();
            return tray->iconWindow() && icon.width() > 0 && icon.left() > screenWidth - 130 && icon.bottom() <= 32;
        });
    }

    static bool xembedWindowShown()
    {
        for (const QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("QSystemTrayIconSys") && widget->isVisible())
                return true;
        }
        return false;
    }

    std::optional<Trayer> trayer;
    QThread thread;
    QDBusConnection watcherBus{QString()};
    std::unique_ptr<FakeWatcher> watcher;
    SettingsStore store{QString()};
    FakeClock clock;
    NoWorkspace workspace;
    JobCenter center{store, clock};
    MenuActions actions{center, store, workspace};
    std::unique_ptr<StatusItemController> controller;
};

} // namespace

TEST_F(TrayChoice, AWatcherWithoutAHostOrAnAnswerLeavesTheIconToTheXEmbedTray)
{
    startTrayer();
    if (IsSkipped())
        return;
    for (const Host host : {Host::none, Host::silent}) {
        SCOPED_TRACE(host == Host::none ? "no host" : "no answer");
        startWatcher(host);
        if (HasFatalFailure())
            return;
        setUp();
        ASSERT_TRUE(waitFor([&] { return controller->tray() != nullptr; }, 3 * StatusItemController::hostWaitMs + 5000));
        // Asked by us alone (a silent one twice: at once, then without holding the start). Qt
        // asks too as its own tray icon is made, and waits for the answer.
        EXPECT_EQ(watcher->asked(), host == Host::silent ? 2 : 1);
        ASSERT_TRUE(dynamic_cast<SystemStatusTray*>(controller->tray()));
        EXPECT_TRUE(docked()) << "the icon was not docked in trayer";
        EXPECT_TRUE(watcher->items().isEmpty());
        stop();
    }
}

TEST_F(TrayChoice, AWatcherWithAHostTakesTheItemAndTheXEmbedTrayStaysEmpty)
{
    startTrayer();
    if (IsSkipped())
        return;
    startWatcher(Host::shows);
    if (HasFatalFailure())
        return;
    setUp();
    ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); }));
    auto* tray = dynamic_cast<StatusNotifierTray*>(controller->tray());
    ASSERT_TRUE(tray);
    EXPECT_EQ(watcher->items(), QStringList{tray->item().serviceName()});
    EXPECT_FALSE(xembedWindowShown());
}

TEST_F(TrayChoice, AnItemTheWatcherRefusesMovesToTheXEmbedTray)
{
    startTrayer();
    if (IsSkipped())
        return;
    startWatcher(Host::refuses);
    if (HasFatalFailure())
        return;
    setUp();
    ASSERT_TRUE(waitFor([&] { return dynamic_cast<SystemStatusTray*>(controller->tray()) != nullptr; }));
    EXPECT_EQ(watcher->items().size(), 1);
    EXPECT_TRUE(docked()) << "the icon was not docked in trayer";
}

// At the start of a session the panel may come up after us.
TEST_F(TrayChoice, AnXEmbedTrayThatStartsLaterTakesTheIconNoHostShows)
{
    ASSERT_FALSE(Trayer::runs()) << "a tray runs already";
    startWatcher(Host::none);
    if (HasFatalFailure())
        return;
    setUp();
    ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); }));
    ASSERT_TRUE(dynamic_cast<StatusNotifierTray*>(controller->tray()));
    startTrayer();
    if (IsSkipped())
        return;
    ASSERT_TRUE(waitFor([&] { return dynamic_cast<SystemStatusTray*>(controller->tray()) != nullptr; }));
    EXPECT_TRUE(docked()) << "the icon was not docked in trayer";
}

// With neither tray at the start of a session, a panel that comes up later takes the icon.
const QString kTrayStarted = QStringLiteral("A tray started: the icon goes there");

TEST_F(TrayChoice, WithNoTrayAtStartAnXEmbedTrayThatStartsLaterDocksTheIcon)
{
    ASSERT_FALSE(Trayer::runs()) << "a tray runs already";
    // A tray an earlier test stopped is gone for Qt once it has read of its window's end.
    ASSERT_TRUE(waitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); })) << "Qt still sees a tray";
    LogCapture log;
    setUp();
    auto* tray = dynamic_cast<SystemStatusTray*>(controller->tray());
    ASSERT_TRUE(tray);
    EXPECT_FALSE(tray->iconWindow());
    startTrayer();
    if (IsSkipped())
        return;
    EXPECT_TRUE(docked()) << "the icon was not docked in trayer";
    EXPECT_EQ(controller->tray(), tray);
    EXPECT_TRUE(waitFor([&] { return log.contains(QStringLiteral("quorvenda.app"), kTrayStarted); }));
}

TEST_F(TrayChoice, WithNoTrayAtStartAWatcherThatStartsLaterTakesTheItem)
{
    ASSERT_FALSE(Trayer::runs()) << "a tray runs already";
    for (const Host host : {Host::shows, Host::none}) {
        SCOPED_TRACE(host == Host::shows ? "a host shows items" : "no host yet");
        LogCapture log;
        setUp();
        ASSERT_TRUE(dynamic_cast<SystemStatusTray*>(controller->tray()));
        startWatcher(host);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); })) << "the item was not registered";
        auto* tray = dynamic_cast<StatusNotifierTray*>(controller->tray());
        ASSERT_TRUE(tray);
        EXPECT_EQ(watcher->items(), QStringList{tray->item().serviceName()});
        EXPECT_EQ(log.contains(QStringLiteral("quorvenda.app"), kTrayStarted), host == Host::shows);
        stop();
    }
}

// A panel that quits (a user switching panels, or one that crashed) leaves the icon to the XEmbed
// tray that runs, where a click opens the menu; a watcher that comes back finds it docked there.
TEST_F(TrayChoice, AHostThatQuitsLeavesTheIconToTheXEmbedTrayWhichKeepsIt)
{
    startTrayer();
    if (IsSkipped())
        return;
    for (const bool watcherQuits : {true, false}) {
        SCOPED_TRACE(watcherQuits ? "the watcher quits" : "the watcher says no host shows items");
        startWatcher(Host::shows);
        if (HasFatalFailure())
            return;
        setUp();
        ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); })) << "the item was not registered";
        ASSERT_TRUE(dynamic_cast<StatusNotifierTray*>(controller->tray()));
        EXPECT_FALSE(xembedWindowShown());
        if (watcherQuits)
            stopWatcher();
        else
            hostQuits();
        ASSERT_TRUE(waitFor([&] { return dynamic_cast<SystemStatusTray*>(controller->tray()) != nullptr; }))
            << "the icon stayed an item";
        EXPECT_TRUE(docked()) << "the icon was not docked in trayer";
        if (watcherQuits) {
            auto* tray = dynamic_cast<SystemStatusTray*>(controller->tray());
            ASSERT_TRUE(tray);
            X11Keys pointer;
            ASSERT_TRUE(pointer.isOpen());
            const QPoint centre = tray->iconGeometry().center();
            pointer.click(centre.x(), centre.y());
            EXPECT_TRUE(waitFor([&] { return controller->menu().isVisible(); })) << "a click opened no menu";
            controller->menu().hide();
            // Back with a host: the icon stays docked, and no item shows beside it.
            startWatcher(Host::shows);
            if (HasFatalFailure())
                return;
            EXPECT_FALSE(waitFor([&] { return !watcher->items().isEmpty(); }, 1000));
            EXPECT_EQ(controller->tray(), tray);
        } else {
            EXPECT_EQ(watcher->items().size(), 1);
        }
        stop();
    }
}

// With no XEmbed tray, the item waits for a host or a tray as at a start without one: a watcher
// that comes back has the item again, and an XEmbed tray that starts docks the icon.
TEST_F(TrayChoice, AHostThatQuitsWithNoXEmbedTrayLeavesTheItemWaitingForEither)
{
    ASSERT_FALSE(Trayer::runs()) << "a tray runs already";
    LogCapture log;
    startWatcher(Host::shows);
    if (HasFatalFailure())
        return;
    setUp();
    ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); })) << "the item was not registered";
    auto* item = dynamic_cast<StatusNotifierTray*>(controller->tray());
    ASSERT_TRUE(item);
    hostQuits();
    const QString waits = QStringLiteral("The tray host quit; the icon waits for a tray");
    ASSERT_TRUE(waitFor([&] { return log.contains(QStringLiteral("quorvenda.app"), waits); }));
    EXPECT_EQ(controller->tray(), item);
    stopWatcher();
    startWatcher(Host::none);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] { return !watcher->items().isEmpty(); })) << "the item was not registered again";
    EXPECT_EQ(watcher->items(), QStringList{item->item().serviceName()});
    EXPECT_EQ(controller->tray(), item);
    startTrayer();
    if (IsSkipped())
        return;
    ASSERT_TRUE(waitFor([&] { return dynamic_cast<SystemStatusTray*>(controller->tray()) != nullptr; }));
    EXPECT_TRUE(docked()) << "the icon was not docked in trayer";
}
