#include "model/settings/SettingsKeys.h"
#include "model/settings/Shortcut.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11HotkeyGrabber.h"
#include "support/LogCapture.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace qv;
using qv::test::waitFor;

namespace {

// Another client typing, as a user at the keyboard would.
class Keyboard {
public:
    Keyboard() : m_display(XOpenDisplay(nullptr)) {}
    ~Keyboard()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool isOpen() const { return m_display != nullptr; }

    void tap(const QList<KeySym>& modifiers, KeySym key)
    {
        for (KeySym modifier : modifiers)
            send(modifier, true);
        send(key, true);
        send(key, false);
        for (KeySym modifier : modifiers)
            send(modifier, false);
        XSync(m_display, False);
    }
    void toggle(KeySym lock)
    {
        send(lock, true);
        send(lock, false);
        XSync(m_display, False);
    }

private:
    void send(KeySym keysym, bool down)
    {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, keysym), down ? True : False, 0);
    }

    Display* m_display;
};

} // namespace

TEST(X11HotkeyGrabber, TheDefaultKeyIsGrabbedAndPressesArrive)
{
    QV_REQUIRE_X11();
    Keyboard keyboard;
    ASSERT_TRUE(keyboard.isOpen());
    X11HotkeyGrabber grabber;
    int presses = 0;
    QObject::connect(&grabber, &HotkeyGrabber::pressed, [&] { ++presses; });
    ASSERT_EQ(grabber.grab(Shortcut::defaultShortcut()), 0);

    keyboard.tap({XK_Alt_L, XK_Shift_L}, XK_space);
    EXPECT_TRUE(waitFor([&] { return presses == 1; }));

    // Num Lock and Caps Lock on still reach the key.
    keyboard.toggle(XK_Num_Lock);
    keyboard.toggle(XK_Caps_Lock);
    keyboard.tap({XK_Alt_L, XK_Shift_L}, XK_space);
    EXPECT_TRUE(waitFor([&] { return presses == 2; }));
    keyboard.toggle(XK_Num_Lock);
    keyboard.toggle(XK_Caps_Lock);

    // Other modifiers are another key; after ungrab nothing arrives.
    keyboard.tap({XK_Control_L}, XK_space);
    grabber.ungrab();
    keyboard.tap({XK_Alt_L, XK_Shift_L}, XK_space);
    waitFor([] { return false; }, 200);
    EXPECT_EQ(presses, 2);
}

TEST(X11HotkeyGrabber, AKeyHeldByAnotherProgramIsReportedAsFailure)
{
    QV_REQUIRE_X11();
    // Not the default key: an application another test starts on the same display takes that.
    const Shortcut key{Shortcut::defaultShortcut().keyCode,
                       Shortcut::controlKey | Shortcut::altKey | Shortcut::shiftKey | Shortcut::superKey};
    X11HotkeyGrabber holder;
    ASSERT_EQ(holder.grab(key), 0);

    SettingsStore store{QString()};
    store.setData(SettingsKey::convertHotkey, encodeShortcut(key));
    X11HotkeyGrabber grabber;
    HotkeyCenter center(grabber, store);
    {
        test::LogCapture log;
        center.installHotkeyHandler();
        EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                                 QStringLiteral("XGrabKey %1 failed: 10 (another program holds the key)")
                                     .arg(shortcutDisplayString(key))));
    }
    EXPECT_EQ(center.registeredShortcut(), std::nullopt);

    // Once the other program lets go, registering again takes the key.
    holder.ungrab();
    center.registerHotkey();
    EXPECT_EQ(center.registeredShortcut(), key);
    EXPECT_EQ(holder.grab(key), BadAccess);

    // A code with no key on this keyboard fails without touching the server.
    EXPECT_EQ(grabber.grab(Shortcut{10, Shortcut::controlKey}), X11HotkeyGrabber::unknownKey);
}

TEST(HotkeyCenter, APressOfTheRealKeyAsksForTheConversion)
{
    QV_REQUIRE_X11();
    Keyboard keyboard;
    ASSERT_TRUE(keyboard.isOpen());
    SettingsStore store{QString()};
    X11HotkeyGrabber grabber;
    HotkeyCenter center(grabber, store);
    int requests = 0;
    QObject::connect(&center, &HotkeyCenter::convertRequested, [&] { ++requests; });
    center.installHotkeyHandler();
    ASSERT_EQ(center.registeredShortcut(), Shortcut::defaultShortcut());

    keyboard.tap({XK_Alt_L, XK_Shift_L}, XK_space);
    EXPECT_TRUE(waitFor([&] { return requests == 1; }));

    center.setShortcut(Shortcut{0, Shortcut::controlKey | Shortcut::superKey});
    keyboard.tap({XK_Alt_L, XK_Shift_L}, XK_space); // the old key is free again
    keyboard.tap({XK_Control_L, XK_Super_L}, XK_a);
    EXPECT_TRUE(waitFor([&] { return requests == 2; }));
    waitFor([] { return false; }, 200);
    EXPECT_EQ(requests, 2);
}
