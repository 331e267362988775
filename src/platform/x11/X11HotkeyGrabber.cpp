#include "platform/x11/X11HotkeyGrabber.h"

#include "model/settings/KeyTable.h"
#include "platform/x11/X11ErrorTrap.h"

#include <QSocketNotifier>
#include <QTimer>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace qv {

quint32 x11ModifierMask(quint32 modifierMask)
{
    quint32 mask = 0;
    if (modifierMask & Shortcut::shiftKey)
        mask |= ShiftMask;
    if (modifierMask & Shortcut::controlKey)
        mask |= ControlMask;
    if (modifierMask & Shortcut::altKey)
        mask |= Mod1Mask;
    if (modifierMask & Shortcut::superKey)
        mask |= Mod4Mask;
    return mask;
}

struct X11HotkeyGrabber::State {
    QByteArray displayName;
    Display* display = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    KeyCode keycode = 0;
    quint32 modifiers = 0;
    bool grabbed = false;
    bool down = false;
};

X11HotkeyGrabber::X11HotkeyGrabber(const QByteArray& displayName, QObject* parent)
    : HotkeyGrabber(parent)
    , d(std::make_unique<State>())
{
    d->displayName = displayName;
}

X11HotkeyGrabber::~X11HotkeyGrabber()
{
    ungrab();
    d->notifier.reset();
    if (d->display)
        XCloseDisplay(d->display);
}

int X11HotkeyGrabber::install()
{
    if (d->display)
        return 0;
    d->display = XOpenDisplay(d->displayName.isEmpty() ? nullptr : d->displayName.constData());
    if (!d->display)
        return noDisplay;
    // Without it a held key would arrive as a stream of releases and presses.
    XkbSetDetectableAutoRepeat(d->display, True, nullptr);
    d->notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(d->display),
                                                    QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, &X11HotkeyGrabber::readEvents);
    return 0;
}

QList<quint32> X11HotkeyGrabber::lockCombinations() const
{
    quint32 numLock = 0;
    if (XModifierKeymap* map = XGetModifierMapping(d->display)) {
        const KeyCode numLockKey = XKeysymToKeycode(d->display, XK_Num_Lock);
        for (int modifier = 0; numLockKey != 0 && modifier < 8; ++modifier) {
            for (int i = 0; i < map->max_keypermod; ++i) {
                if (map->modifiermap[modifier * map->max_keypermod + i] == numLockKey)
                    numLock = 1u << modifier;
            }
        }
        XFreeModifiermap(map);
    }
    QList<quint32> combinations{0, LockMask};
    if (numLock != 0 && numLock != LockMask)
        combinations << numLock << (numLock | LockMask);
    return combinations;
}

int X11HotkeyGrabber::grab(const Shortcut& shortcut)
{
    ungrab();
    if (const int status = install())
        return status;
    const std::optional<quint32> keysym = keysymForKeyCode(shortcut.keyCode);
    if (!keysym)
        return unknownKey;
    const KeyCode keycode = XKeysymToKeycode(d->display, *keysym);
    if (keycode == 0)
        return unknownKey;
    const quint32 modifiers = x11ModifierMask(shortcut.modifierMask);
    const Window root = DefaultRootWindow(d->display);
    const QList<quint32> combinations = lockCombinations();

    X11ErrorTrap trap(d->display);
    for (quint32 locks : combinations)
        XGrabKey(d->display, keycode, modifiers | locks, root, False, GrabModeAsync, GrabModeAsync);
    const int error = trap.finish();
    if (error != 0) {
        // Give back the combinations that did succeed.
        for (quint32 locks : combinations)
            XUngrabKey(d->display, keycode, modifiers | locks, root);
        XSync(d->display, False);
        return error;
    }
    d->keycode = keycode;
    d->modifiers = modifiers;
    d->grabbed = true;
    // XSync may have queued events the socket notifier will not announce again.
    QTimer::singleShot(0, this, &X11HotkeyGrabber::readEvents);
    return 0;
}

void X11HotkeyGrabber::ungrab()
{
    if (!d->grabbed)
        return;
    const Window root = DefaultRootWindow(d->display);
    for (quint32 locks : lockCombinations())
        XUngrabKey(d->display, d->keycode, d->modifiers | locks, root);
    // The server serves its clients in no set order: only a round trip makes the key free for
    // the next program (or settings change) that grabs it.
    XSync(d->display, False);
    d->grabbed = false;
    d->down = false;
}

QString X11HotkeyGrabber::explain(int status) const
{
    switch (status) {
    case noDisplay:
        return QStringLiteral("no X server at $DISPLAY");
    case unknownKey:
        return QStringLiteral("no key of this keyboard types it");
    case BadAccess:
        return QStringLiteral("another program holds the key");
    default:
        return QStringLiteral("X error %1").arg(status);
    }
}

void X11HotkeyGrabber::readEvents()
{
    if (!d->display)
        return;
    while (XPending(d->display) > 0) {
        XEvent event;
        XNextEvent(d->display, &event);
        if (!d->grabbed || (event.type != KeyPress && event.type != KeyRelease))
            continue;
        if (event.xkey.keycode != d->keycode)
            continue;
        if (event.type == KeyRelease) {
            d->down = false;
        } else if (!d->down) {
            d->down = true;
            Q_EMIT pressed();
        }
    }
}

} // namespace qv
