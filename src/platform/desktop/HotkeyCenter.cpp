#include "platform/desktop/HotkeyCenter.h"

#include "model/Log.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/DesktopSession.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/PortalHotkeyGrabber.h"
#include "platform/x11/X11HotkeyGrabber.h"

namespace qv {

HotkeyCenter::HotkeyCenter(HotkeyGrabber& grabber, SettingsStore& settings, QObject* parent)
    : QObject(parent)
    , m_grabber(grabber)
    , m_settings(settings)
{
}

HotkeyCenter& HotkeyCenter::shared()
{
    // An X11 grab sees the key only while an X11 window has the focus under Wayland: there the
    // desktop's portal takes it when one offers GlobalShortcuts.
    static HotkeyGrabber* grabber = DesktopSession::isWayland()
        ? static_cast<HotkeyGrabber*>(new PortalHotkeyGrabber(QDBusConnection::sessionBus(),
                                                              std::make_unique<X11HotkeyGrabber>()))
        : new X11HotkeyGrabber;
    static HotkeyCenter center(*grabber, SettingsStore::shared());
    return center;
}

void HotkeyCenter::installHotkeyHandler()
{
    if (m_handlerInstalled)
        return;
    // Queued: a press is handled from the event loop, never inside the grabber's reading.
    connect(&m_grabber, &HotkeyGrabber::pressed, this, &HotkeyCenter::hotKeyPressed,
            Qt::QueuedConnection);
    m_handlerInstalled = true;
    if (const int status = m_grabber.install())
        qCCritical(appLog, "%s failed: %d (%s)", qUtf8Printable(m_grabber.installName()), status,
                   qUtf8Printable(m_grabber.explain(status)));
    registerHotkey();
}

void HotkeyCenter::registerHotkey()
{
    if (m_hotKey) {
        m_grabber.ungrab();
        m_hotKey.reset();
    }
    const std::optional<Shortcut> shortcut = storedShortcut();
    if (!shortcut)
        return;
    if (const int status = m_grabber.grab(*shortcut)) {
        qCCritical(appLog, "%s %s failed: %d (%s)", qUtf8Printable(m_grabber.grabName()),
                   qUtf8Printable(shortcutDisplayString(*shortcut)), status,
                   qUtf8Printable(m_grabber.explain(status)));
        return;
    }
    m_hotKey = shortcut;
}

void HotkeyCenter::unregisterHotkey()
{
    if (m_hotKey)
        m_grabber.ungrab();
    m_hotKey.reset();
}

void HotkeyCenter::setShortcut(const std::optional<Shortcut>& shortcut)
{
    m_settings.setData(SettingsKey::convertHotkey, encodeShortcut(shortcut));
    registerHotkey();
}

std::optional<Shortcut> HotkeyCenter::storedShortcut() const
{
    return qv::storedShortcut(m_settings);
}

void HotkeyCenter::hotKeyPressed()
{
    if (m_settings.boolValue(SettingsKey::paused))
        return;
    Q_EMIT convertRequested();
}

} // namespace qv
