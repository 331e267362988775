// Quorvenda's drag monitor for GNOME Shell. In a Wayland session no application can see a drag
// that runs over other programs' windows, but the Shell sees them all: it owns the drag
// selection. This tells the running Quorvenda over D-Bus when a drag of files starts, where the
// pointer goes and which modifier keys are held, and when the button comes up; Quorvenda then
// shows its wheel under the pointer, and the drop reaches it through XWayland.
//
// The code below imports nothing: the Shell's namespaces are handed to shellEnvironment(), so
// the same monitor runs under GNOME Shell 43 and 44 (legacy imports), 45 and later (modules),
// and under the tests' stand-ins. The build appends the loader for the Shell it targets.

/* exported DragMonitor, shellEnvironment, modifierBits, parseUriList, QuorvendaBus */

var QuorvendaBus = {
    name: 'org.quorvenda.Quorvenda',
    path: '/org/quorvenda/Quorvenda/ShellDrag',
    iface: 'org.quorvenda.Quorvenda.ShellDrag',
};

// Clutter.ModifierType bits.
const kShiftMask = 1 << 0;
const kControlMask = 1 << 2;
const kMod1Mask = 1 << 3;
const kMod4Mask = 1 << 6;
const kButton1Mask = 1 << 8;
const kSuperMask = 1 << 26;

// The keys a wheel of files is chosen with, as the Shell's accelerators, and the X key names
// they are told by.
const kClickWheelKeys = [
    ['Return', 'Return'], ['KP_Enter', 'KP_Enter'], ['Up', 'Up'], ['Down', 'Down'], ['Left', 'Left'],
    ['Right', 'Right'], ['Tab', 'Tab'], ['<Shift>Tab', 'ISO_Left_Tab'],
];
// The modifier keys that switch a wheel of files, by their bits and X key names.
const kClickWheelModifiers = [[1, 'Shift_L'], [2, 'Control_L'], [4, 'Alt_L'], [8, 'Super_L']];

// Shell.ActionMode.ALL.
const kAllActionModes = ~0;

// How often the pointer is looked at during a drag, in milliseconds.
const kPollInterval = 16;
// How long a nudge waits for a new window under the pointer, in milliseconds.
const kNudgeWait = 2000;
// No drag hands over a longer list of files.
const kMaxUriListBytes = 32 * 1024 * 1024;

// The modifier keys in Quorvenda's bits: 1 Shift, 2 Control, 4 Alt, 8 Super.
function modifierBits(state) {
    let bits = 0;
    if (state & kShiftMask)
        bits |= 1;
    if (state & kControlMask)
        bits |= 2;
    if (state & kMod1Mask)
        bits |= 4;
    if (state & (kMod4Mask | kSuperMask))
        bits |= 8;
    return bits;
}

// The URIs of a text/uri-list body, comments and blank lines left out.
function parseUriList(text) {
    if (!text)
        return [];
    return text.split(/\r?\n/).map(line => line.trim()).filter(line => line && !line.startsWith('#'));
}

// The monitor itself, on an environment of plain functions:
//   connectOwnerChanged(callback(isDrag, source)) -> id, disconnectOwnerChanged(id)
//   mimeTypes(source) -> [string], readText(mimeType, done(text or null))
//   pointer() -> [x, y, Clutter modifier state]
//   every(ms, tick -> bool keepGoing) -> id, cancel(id), later(ms, fn)
//   watchApp(appeared(), vanished()) -> id, unwatchApp(id)
//   call(method, signature, args), subscribe(signal, callback(args)) -> id, unsubscribe(id)
//   grabKey(accelerator, pressed()) -> grab or null, ungrabKey(grab)
//   moveBy(dx, dy), screenWidth(), windowUnderPointer() -> window or null,
//   allowOverviewKey(allowed), log(message)
var DragMonitor = class DragMonitor {
    constructor(env) {
        this._env = env;
        this._appPresent = false;
        this._drag = null;
        this._serial = 0;
    }

    enable() {
        const env = this._env;
        this._ownerId = env.connectOwnerChanged((isDrag, source) => this._ownerChanged(isDrag, source));
        this._watchId = env.watchApp(() => {
            this._appPresent = true;
            env.call('Attach', '()', []);
        }, () => {
            this._appPresent = false;
            // Escape is the user's again if Quorvenda stops with its wheel shown.
            this._stopWatchingClickWheel();
        });
        this._subscriptions = [
            env.subscribe('NudgePointer', () => this._nudge()),
            env.subscribe('WatchModifiers', args => this._watchModifiers(Boolean(args[0]))),
            env.subscribe('LocatePointer', () => this._locatePointer()),
            env.subscribe('WatchClickWheel', args => this._watchClickWheel(args)),
        ];
    }

    disable() {
        const env = this._env;
        this._finish();
        if (this._appPresent)
            env.call('Detach', '()', []);
        env.disconnectOwnerChanged(this._ownerId);
        env.unwatchApp(this._watchId);
        this._subscriptions.forEach(id => env.unsubscribe(id));
        this._subscriptions = [];
        this._stopWatchingModifiers();
        this._stopWatchingClickWheel();
        this._stopNudging();
        this._appPresent = false;
    }

    get dragging() {
        return this._drag !== null;
    }

    _ownerChanged(isDrag, source) {
        if (!isDrag)
            return;
        // A drag ends with the selection given up; a new owner is a new drag.
        this._finish();
        if (!source)
            return;
        const env = this._env;
        const [x, y, state] = env.pointer();
        const drag = {serial: ++this._serial, x, y, modifiers: modifierBits(state), announced: false};
        this._drag = drag;
        this._pollId = env.every(kPollInterval, () => this._poll());
        let types = [];
        try {
            types = env.mimeTypes(source) || [];
        } catch (e) {
            env.log(`cannot read the drag's types: ${e}`);
        }
        if (!types.includes('text/uri-list')) {
            this._announce(drag, types, []);
            return;
        }
        env.readText('text/uri-list', text => {
            // The drag may be over, or another one running, by the time the list arrives.
            if (this._drag === drag)
                this._announce(drag, types, parseUriList(text));
        });
    }

    _announce(drag, types, uris) {
        if (!this._appPresent)
            return;
        drag.announced = true;
        // Super is one of Quorvenda's trigger keys: during a drag of files it opens a wheel,
        // not the Activities overview (which would also cover the wheel).
        if (uris.length > 0)
            this._holdOverviewKey(true);
        this._env.call('DragBegan', '(asasiiu)', [types, uris, drag.x, drag.y, drag.modifiers]);
    }

    _poll() {
        const drag = this._drag;
        if (!drag)
            return false;
        const [x, y, state] = this._env.pointer();
        if (!(state & kButton1Mask)) {
            drag.x = x;
            drag.y = y;
            this._pollId = 0;
            this._finish();
            return false;
        }
        const modifiers = modifierBits(state);
        if (x === drag.x && y === drag.y && modifiers === drag.modifiers)
            return true;
        drag.x = x;
        drag.y = y;
        drag.modifiers = modifiers;
        if (drag.announced && this._appPresent)
            this._env.call('DragMoved', '(iiu)', [x, y, modifiers]);
        return true;
    }

    _finish() {
        const drag = this._drag;
        if (!drag)
            return;
        this._drag = null;
        if (this._pollId) {
            this._env.cancel(this._pollId);
            this._pollId = 0;
        }
        if (drag.announced && this._appPresent)
            this._env.call('DragEnded', '(ii)', [drag.x, drag.y]);
        this._releaseOverviewKey();
    }

    // Once nothing that held it holds it any more: a drag, its modifier keys, a wheel of files.
    _releaseOverviewKey() {
        if (!this._drag && !this._modifierPollId && !this._clickWheelWatched)
            this._holdOverviewKey(false);
    }

    _holdOverviewKey(hold) {
        if (hold === Boolean(this._overviewKeyHeld))
            return;
        this._overviewKeyHeld = hold;
        this._env.allowOverviewKey(!hold);
    }

    // Drags between X11 programs stay inside XWayland, which hears no keys during them: while
    // Quorvenda follows such a drag it asks for the modifier keys, until the button comes up.
    _watchModifiers(on) {
        this._stopWatchingModifiers();
        if (!on || this._drag)
            return;
        const env = this._env;
        let last = modifierBits(env.pointer()[2]);
        this._holdOverviewKey(true);
        this._modifierPollId = env.every(kPollInterval, () => {
            const state = env.pointer()[2];
            if (!(state & kButton1Mask) || this._drag) {
                this._modifierPollId = 0;
                this._releaseOverviewKey();
                return false;
            }
            const modifiers = modifierBits(state);
            if (modifiers !== last && this._appPresent)
                env.call('ModifiersChanged', '(u)', [modifiers]);
            last = modifiers;
            return true;
        });
    }

    _stopWatchingModifiers() {
        if (this._modifierPollId) {
            this._env.cancel(this._modifierPollId);
            this._modifierPollId = 0;
            this._releaseOverviewKey();
        }
    }

    // XWayland knows the pointer only over X11 windows: Quorvenda asks where it is before it
    // opens a wheel under it.
    _locatePointer() {
        const [x, y] = this._env.pointer();
        if (this._appPresent)
            this._env.call('PointerLocated', '(ii)', [x, y]);
    }

    // While Quorvenda's wheel of files (an X11 window) waits for a click at [x, y, width,
    // height], keys and a press outside it go to the Shell or a Wayland window, which XWayland
    // never hears of: the Shell takes Escape and the choosing keys, and watches the button.
    _watchClickWheel([x, y, width, height]) {
        this._stopWatchingClickWheel();
        if (!(width > 0 && height > 0))
            return;
        const env = this._env;
        const dismissed = () => {
            this._stopWatchingClickWheel();
            if (this._appPresent)
                env.call('ClickWheelDismissed', '()', []);
        };
        const told = key => {
            if (this._appPresent)
                env.call('ClickWheelKey', '(s)', [key]);
        };
        this._keyGrabs = [env.grabKey('Escape', dismissed)];
        // The keys that choose on the wheel, which XWayland does not hear either.
        for (const [accelerator, key] of kClickWheelKeys)
            this._keyGrabs.push(env.grabKey(accelerator, () => told(key)));
        // A modifier key pressed switches the wheel; Super does that, not open the overview.
        this._clickWheelWatched = true;
        this._holdOverviewKey(true);
        // A button held as it opened (the click that asked for it) is no press outside, nor
        // are the hot key's modifiers still held.
        const [, , held] = env.pointer();
        let wasDown = Boolean(held & kButton1Mask);
        let lastModifiers = modifierBits(held);
        this._clickPollId = env.every(kPollInterval, () => {
            const [px, py, state] = env.pointer();
            const down = Boolean(state & kButton1Mask);
            const pressed = down && !wasDown;
            wasDown = down;
            if (pressed && (px < x || py < y || px >= x + width || py >= y + height)) {
                this._clickPollId = 0;
                dismissed();
                return false;
            }
            const modifiers = modifierBits(state);
            for (const [bit, key] of kClickWheelModifiers) {
                if ((modifiers & bit) && !(lastModifiers & bit))
                    told(key);
            }
            lastModifiers = modifiers;
            return true;
        });
    }

    _stopWatchingClickWheel() {
        if (this._clickPollId) {
            this._env.cancel(this._clickPollId);
            this._clickPollId = 0;
        }
        for (const grab of this._keyGrabs || []) {
            if (grab)
                this._env.ungrabKey(grab);
        }
        this._keyGrabs = [];
        if (this._clickWheelWatched) {
            this._clickWheelWatched = false;
            this._releaseOverviewKey();
        }
    }

    // A window that appears under a still pointer becomes the drop target only once the pointer
    // moves: Quorvenda asks for a one-pixel move and back after showing its wheel. A busy
    // machine may show it later than that: the pointer moves again once a new window is under
    // it, and once more a moment after, while the Shell may still be readying it.
    _nudge() {
        const env = this._env;
        this._stopNudging();
        const before = env.windowUnderPointer();
        this._moveAndBack();
        let waited = 0;
        this._nudgePollId = env.every(kPollInterval, () => {
            waited += kPollInterval;
            if (env.windowUnderPointer() !== before) {
                this._nudgePollId = 0;
                this._moveAndBack();
                env.later(100, () => this._moveAndBack());
                return false;
            }
            if (waited < kNudgeWait)
                return true;
            this._nudgePollId = 0;
            return false;
        });
    }

    _stopNudging() {
        if (this._nudgePollId) {
            this._env.cancel(this._nudgePollId);
            this._nudgePollId = 0;
        }
    }

    // Moves by a pixel, not to a place: a hand that moves meanwhile keeps its move.
    _moveAndBack() {
        const env = this._env;
        const [x] = env.pointer();
        const dx = x + 1 < env.screenWidth() ? 1 : -1;
        env.moveBy(dx, 0);
        env.later(30, () => env.moveBy(-dx, 0));
    }
};

// The environment of the running Shell; main is the Shell's ui/main module.
function shellEnvironment(Meta, Clutter, GLib, Gio, main, shellGlobal) {
    const selection = shellGlobal.display.get_selection();
    const bus = Gio.DBus.session;
    const log = message => console.log(`Quorvenda: ${message}`);
    // A pointer of its own, made at the first nudge.
    let pointerDevice = null;
    return {
        connectOwnerChanged(callback) {
            return selection.connect('owner-changed', (sel, type, source) =>
                callback(type === Meta.SelectionType.SELECTION_DND, source));
        },
        disconnectOwnerChanged(id) {
            selection.disconnect(id);
        },
        mimeTypes(source) {
            return source.get_mimetypes();
        },
        readText(mimeType, done) {
            const stream = Gio.MemoryOutputStream.new_resizable();
            selection.transfer_async(Meta.SelectionType.SELECTION_DND, mimeType, kMaxUriListBytes,
                stream, null, (sel, result) => {
                    let text = null;
                    try {
                        sel.transfer_finish(result);
                        stream.close(null);
                        text = new TextDecoder().decode(stream.steal_as_bytes().toArray());
                    } catch (e) {
                        log(`cannot read the dragged files: ${e.message}`);
                    }
                    done(text);
                });
        },
        pointer() {
            return shellGlobal.get_pointer();
        },
        every(ms, tick) {
            return GLib.timeout_add(GLib.PRIORITY_DEFAULT, ms, () =>
                tick() ? GLib.SOURCE_CONTINUE : GLib.SOURCE_REMOVE);
        },
        cancel(id) {
            GLib.source_remove(id);
        },
        later(ms, fn) {
            GLib.timeout_add(GLib.PRIORITY_DEFAULT, ms, () => {
                fn();
                return GLib.SOURCE_REMOVE;
            });
        },
        watchApp(appeared, vanished) {
            return Gio.bus_watch_name(Gio.BusType.SESSION, QuorvendaBus.name, Gio.BusNameWatcherFlags.NONE,
                () => appeared(), () => vanished());
        },
        unwatchApp(id) {
            Gio.bus_unwatch_name(id);
        },
        call(method, signature, args) {
            bus.call(QuorvendaBus.name, QuorvendaBus.path, QuorvendaBus.iface, method,
                new GLib.Variant(signature, args), null, Gio.DBusCallFlags.NO_AUTO_START, -1, null,
                (connection, result) => {
                    try {
                        connection.call_finish(result);
                    } catch (e) {
                        log(`${method} was not taken: ${e.message}`);
                    }
                });
        },
        subscribe(signal, callback) {
            // From whichever connection owns the name now: the interface is Quorvenda's alone.
            return bus.signal_subscribe(null, QuorvendaBus.iface, signal,
                QuorvendaBus.path, null, Gio.DBusSignalFlags.NONE,
                (connection, sender, path, iface, name, parameters) => callback(parameters.deep_unpack()));
        },
        unsubscribe(id) {
            bus.signal_unsubscribe(id);
        },
        grabKey(accelerator, pressed) {
            // A key the Shell takes before any window, as it does for the desktop's own
            // shortcuts, in every mode of the Shell.
            const display = shellGlobal.display;
            const action = display.grab_accelerator(accelerator, Meta.KeyBindingFlags.NONE);
            if (action === Meta.KeyBindingAction.NONE) {
                log(`cannot take ${accelerator}`);
                return null;
            }
            const name = Meta.external_binding_name_for_action(action);
            main.wm.allowKeybinding(name, kAllActionModes);
            const id = display.connect('accelerator-activated', (d, activated) => {
                if (activated === action)
                    pressed();
            });
            return {action, name, id};
        },
        ungrabKey(grab) {
            const display = shellGlobal.display;
            display.disconnect(grab.id);
            main.wm.allowKeybinding(grab.name, 0);
            display.ungrab_accelerator(grab.action);
        },
        moveBy(dx, dy) {
            if (!pointerDevice) {
                pointerDevice = Clutter.get_default_backend().get_default_seat()
                    .create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
            }
            pointerDevice.notify_relative_motion(GLib.get_monotonic_time(), dx, dy);
        },
        screenWidth() {
            return shellGlobal.stage.width;
        },
        windowUnderPointer() {
            const [x, y] = shellGlobal.get_pointer();
            const actors = shellGlobal.get_window_actors();
            for (let i = actors.length - 1; i >= 0; i--) {
                // A window on its way out has no window left.
                const window = actors[i].visible ? actors[i].meta_window : null;
                if (!window)
                    continue;
                const rect = window.get_buffer_rect();
                if (x >= rect.x && y >= rect.y && x < rect.x + rect.width && y < rect.y + rect.height)
                    return window;
            }
            return null;
        },
        allowOverviewKey(allowed) {
            // The Super key's handler toggles the overview: it does nothing meanwhile. Only this
            // Shell's memory changes, so nothing stays changed if it stops.
            const overview = main.overview;
            if (!overview)
                return;
            if (!allowed && !Object.prototype.hasOwnProperty.call(overview, 'toggle'))
                overview.toggle = () => {};
            else if (allowed && Object.prototype.hasOwnProperty.call(overview, 'toggle'))
                delete overview.toggle;
        },
        log,
    };
}
