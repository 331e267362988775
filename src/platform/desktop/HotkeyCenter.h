#pragma once

#include "model/settings/Shortcut.h"

#include <QObject>

#include <optional>

namespace qv {

class HotkeyGrabber;
class SettingsStore;

// The global hot key that converts the copied files: keeps the stored shortcut registered, at
// most one at a time, and asks for the conversion when it is pressed.
class HotkeyCenter : public QObject {
    Q_OBJECT

public:
    // Neither is owned; both must outlive the centre.
    HotkeyCenter(HotkeyGrabber& grabber, SettingsStore& settings, QObject* parent = nullptr);

    // The one centre of the application, on the X server of $DISPLAY and the shared settings.
    static HotkeyCenter& shared();

    // Connects to the key's presses once and registers the stored shortcut; later calls do
    // nothing.
    void installHotkeyHandler();
    // Drops the registered key and registers the stored shortcut anew.
    void registerHotkey();
    // Gives the key back until the next registerHotkey(), so a recorder sees its presses.
    void unregisterHotkey();
    // Stores the shortcut (nothing: the user removed it), then registers it.
    void setShortcut(const std::optional<Shortcut>& shortcut);

    std::optional<Shortcut> storedShortcut() const;
    // The shortcut held right now; nothing when none is, for instance when another program
    // holds the key.
    std::optional<Shortcut> registeredShortcut() const { return m_hotKey; }
    bool isHandlerInstalled() const { return m_handlerInstalled; }

    // A press of the hot key: from the grabber, or from the command a user bound in the
    // desktop's keyboard settings ("quorvenda --convert-copied").
    void hotKeyPressed();

Q_SIGNALS:
    // The hot key was pressed while Quorvenda is not paused: convert the copied files.
    void convertRequested();

private:

    HotkeyGrabber& m_grabber;
    SettingsStore& m_settings;
    std::optional<Shortcut> m_hotKey;
    bool m_handlerInstalled = false;
};

} // namespace qv
