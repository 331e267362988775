#include "catalogue/ToolRegistry.h"
#include "model/operations/Capabilities.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/Shortcut.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11HotkeyGrabber.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/SettingsWindow.h"
#include "settings/SettingsWindowController.h"
#include "settings/ShortcutRecorderView.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <X11/Xlib.h>
#include <X11/keysym.h>
// Xlib's event names would hide QEvent's.
#undef KeyPress
#undef KeyRelease

using namespace qv;
using namespace qv::test;

namespace {

// Another program on the same X server, holding Alt+Shift+Space.
class OtherProgram {
public:
    OtherProgram() : m_display(XOpenDisplay(nullptr)) {}
    ~OtherProgram()
    {
        if (m_display) {
            XUngrabKey(m_display, AnyKey, AnyModifier, DefaultRootWindow(m_display));
            XCloseDisplay(m_display);
        }
    }
    bool grab(KeySym keysym, unsigned int modifiers)
    {
        if (!m_display)
            return false;
        const KeyCode code = XKeysymToKeycode(m_display, keysym);
        XGrabKey(m_display, code, modifiers, DefaultRootWindow(m_display), False, GrabModeAsync,
                 GrabModeAsync);
        XSync(m_display, False);
        return true;
    }
    void release()
    {
        XUngrabKey(m_display, AnyKey, AnyModifier, DefaultRootWindow(m_display));
        XSync(m_display, False);
    }

private:
    Display* m_display;
};

TEST(HotkeyConflict, AKeyAnotherProgramHoldsIsShownAsTaken)
{
    QV_REQUIRE_X11();
    OtherProgram other;
    ASSERT_TRUE(other.grab(XK_space, ShiftMask | Mod1Mask));

    SettingsStore store{QString()};
    registerDefaultSettings(store);
    X11HotkeyGrabber grabber;
    HotkeyCenter hotkeys(grabber, store);
    hotkeys.installHotkeyHandler();
    EXPECT_FALSE(hotkeys.registeredShortcut().has_value());

    SettingsWindowController::Services services;
    services.store = &store;
    services.hotkeys = &hotkeys;
    services.registry = &ToolRegistry::shared();
    services.capabilities = &Capabilities::shared();
    services.activeJobCount = [] { return 0; };
    SettingsWindowController controller(std::move(services));
    controller.show(SettingsTab::general);
    ShortcutRecorderView* recorder = controller.general()->recorder();
    EXPECT_TRUE(recorder->conflictLabel()->isVisible());
    EXPECT_EQ(recorder->recordButton()->text(), "Alt+Shift+Space");
    EXPECT_EQ(hotkeys.storedShortcut(), Shortcut::defaultShortcut());

    // Once the other program lets go, recording a free key takes it.
    other.release();
    recorder->startRecording();
    recorder->handleRecordedKey(QKeyEvent(QEvent::KeyPress, Qt::Key_K,
                                          Qt::ControlModifier | Qt::AltModifier, QStringLiteral("k")));
    EXPECT_TRUE(hotkeys.registeredShortcut().has_value());
    EXPECT_FALSE(recorder->conflictLabel()->isVisible());
    controller.window()->hide();
}

} // namespace
