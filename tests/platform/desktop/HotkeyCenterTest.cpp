#include "model/settings/SettingsKeys.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeHotkeyGrabber.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace qv;

namespace {

int countRequests(HotkeyCenter& center, test::FakeHotkeyGrabber& grabber)
{
    int requests = 0;
    const auto connection =
        QObject::connect(&center, &HotkeyCenter::convertRequested, [&] { ++requests; });
    grabber.press();
    QCoreApplication::processEvents(); // presses are handled from the event loop
    QObject::disconnect(connection);
    return requests;
}

} // namespace

TEST(HotkeyCenter, RegistersTheStoredShortcutOnceAtATime)
{
    SettingsStore store{QString()};
    test::FakeHotkeyGrabber grabber;
    HotkeyCenter center(grabber, store);

    center.installHotkeyHandler();
    EXPECT_TRUE(center.isHandlerInstalled());
    EXPECT_EQ(grabber.grabs, QList<Shortcut>{Shortcut::defaultShortcut()});
    EXPECT_EQ(center.registeredShortcut(), Shortcut::defaultShortcut());

    // A second install neither connects again nor registers again.
    center.installHotkeyHandler();
    EXPECT_EQ(grabber.installs, 1);
    EXPECT_EQ(grabber.grabs.size(), 1);
    EXPECT_EQ(countRequests(center, grabber), 1);

    // Setting the same shortcut twice: one key held, the latest.
    const Shortcut controlA{0, Shortcut::controlKey};
    center.setShortcut(controlA);
    center.setShortcut(controlA);
    EXPECT_EQ(grabber.held, controlA);
    EXPECT_EQ(center.storedShortcut(), controlA);
    EXPECT_EQ(store.dataValue(SettingsKey::convertHotkey),
              QByteArray(R"({"carbonModifiers":4096,"keyCode":0})"));

    // Removed: stored as null, nothing held, no presses.
    center.setShortcut(std::nullopt);
    EXPECT_EQ(store.dataValue(SettingsKey::convertHotkey), QByteArray("null"));
    EXPECT_EQ(grabber.held, std::nullopt);
    EXPECT_EQ(center.registeredShortcut(), std::nullopt);
    EXPECT_EQ(countRequests(center, grabber), 0);

    // A settings reset removes the key and registers again: the default is back.
    store.remove(SettingsKey::convertHotkey);
    center.registerHotkey();
    EXPECT_EQ(grabber.held, Shortcut::defaultShortcut());
}

TEST(HotkeyCenter, PausedPressesAndRefusedKeys)
{
    SettingsStore store{QString()};
    test::FakeHotkeyGrabber grabber;
    HotkeyCenter center(grabber, store);
    center.installHotkeyHandler();

    store.setValue(SettingsKey::paused, true);
    EXPECT_EQ(countRequests(center, grabber), 0);
    store.setValue(SettingsKey::paused, false);
    EXPECT_EQ(countRequests(center, grabber), 1);

    // Another program holds the key: logged, nothing registered, the shortcut still stored.
    grabber.grabStatus = 10;
    {
        test::LogCapture log;
        center.setShortcut(Shortcut{122, Shortcut::superKey});
        EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                                 QStringLiteral("FakeGrab Super+F1 failed: 10 (status 10)")));
    }
    EXPECT_EQ(center.registeredShortcut(), std::nullopt);
    EXPECT_EQ(center.storedShortcut(), (Shortcut{122, Shortcut::superKey}));
}

TEST(HotkeyCenter, AFailedInstallIsLoggedAndRegistrationGoesOn)
{
    SettingsStore store{QString()};
    test::FakeHotkeyGrabber grabber;
    grabber.installStatus = -1;
    HotkeyCenter center(grabber, store);
    test::LogCapture log;
    center.installHotkeyHandler();
    EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                             QStringLiteral("FakeInstall failed: -1 (status -1)")));
    EXPECT_EQ(grabber.grabs.size(), 1);
}
