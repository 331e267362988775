// The GNOME Shell extension's drag monitor, run by gjs on stand-ins for the Shell.
// Usage: gjs dragMonitorTest.js <folder of dragMonitor.js>

const GLib = imports.gi.GLib;
const System = imports.system;

imports.searchPath.unshift(ARGV[0]);
const Monitor = imports.dragMonitor;

let failures = 0;
let current = '';

function check(condition, what) {
    if (!condition) {
        failures++;
        printerr(`FAIL ${current}: ${what}`);
    }
}

function same(actual, expected, what) {
    const a = JSON.stringify(actual);
    const e = JSON.stringify(expected);
    check(a === e, `${what}: ${a} instead of ${e}`);
}

function test(name, body) {
    current = name;
    try {
        body();
        print(`ok ${name}`);
    } catch (e) {
        failures++;
        printerr(`FAIL ${name}: ${e}\n${e.stack}`);
    }
}

const kShift = 1 << 0;
const kControl = 1 << 2;
const kAlt = 1 << 3;
const kMod4 = 1 << 6;
const kButton1 = 1 << 8;
const kSuper = 1 << 26;

// A Shell the test plays by hand: owner changes, pointer states, timer ticks, the app's name.
class FakeShell {
    constructor() {
        this.calls = [];
        this.pointerState = [400, 300, kButton1];
        this.timers = new Map();
        this.nextId = 1;
        this.pendingReads = [];
        this.moves = [];
        this.window = null;
        this.overviewKey = [];
        this.later = [];
        this.ownerCallback = null;
        this.appCallbacks = null;
        this.signals = new Map();
        this.grabs = [];
    }

    get nudgeCallback() {
        return this.signals.get('NudgePointer') || null;
    }

    emit(signal, args = []) {
        this.signals.get(signal)(args);
    }

    env() {
        const shell = this;
        return {
            connectOwnerChanged(callback) {
                shell.ownerCallback = callback;
                return 7;
            },
            disconnectOwnerChanged(id) {
                if (id === 7)
                    shell.ownerCallback = null;
            },
            mimeTypes(source) {
                return source.types;
            },
            readText(mimeType, done) {
                shell.pendingReads.push({mimeType, done});
            },
            pointer() {
                return shell.pointerState;
            },
            every(ms, tick) {
                const id = shell.nextId++;
                shell.timers.set(id, {ms, tick});
                return id;
            },
            cancel(id) {
                shell.timers.delete(id);
            },
            later(ms, fn) {
                shell.later.push(fn);
            },
            watchApp(appeared, vanished) {
                shell.appCallbacks = {appeared, vanished};
                return 9;
            },
            unwatchApp(id) {
                if (id === 9)
                    shell.appCallbacks = null;
            },
            call(method, signature, args) {
                // The arguments must fit the signature, as GLib checks on a real call.
                new GLib.Variant(signature, args);
                shell.calls.push([method, ...args]);
            },
            subscribe(signal, callback) {
                shell.signals.set(signal, callback);
                return signal;
            },
            unsubscribe(id) {
                shell.signals.delete(id);
            },
            moveBy(dx, dy) {
                shell.moves.push([dx, dy]);
            },
            screenWidth() {
                return 1280;
            },
            windowUnderPointer() {
                return shell.window;
            },
            allowOverviewKey(allowed) {
                shell.overviewKey.push(allowed);
            },
            grabKey(accelerator, pressed) {
                const grab = {accelerator, pressed};
                shell.grabs.push(grab);
                return grab;
            },
            ungrabKey(grab) {
                shell.grabs = shell.grabs.filter(g => g !== grab);
            },
            log() {},
        };
    }

    tick() {
        for (const [id, timer] of [...this.timers]) {
            if (!timer.tick())
                this.timers.delete(id);
        }
    }

    dragStarts(types) {
        this.ownerCallback(true, {types});
    }

    answerRead(text) {
        const read = this.pendingReads.shift();
        read.done(text);
        return read.mimeType;
    }
}

function running() {
    const shell = new FakeShell();
    const monitor = new Monitor.DragMonitor(shell.env());
    monitor.enable();
    shell.appCallbacks.appeared();
    same(shell.calls, [['Attach']], 'the app is told the extension is on');
    shell.calls = [];
    return [shell, monitor];
}

test('A drag of files is announced with its types, files, position and keys', () => {
    const [shell] = running();
    shell.pointerState = [120, 80, kButton1 | kShift];
    shell.dragStarts(['text/uri-list', 'x-special/gnome-copied-files']);
    same(shell.calls, [], 'nothing before the list is read');
    same(shell.answerRead('# comment\r\nfile:///tmp/a%20b.png\r\nfile:///tmp/c.pdf\r\n\r\n'), 'text/uri-list',
        'the list is read');
    same(shell.calls, [['DragBegan', ['text/uri-list', 'x-special/gnome-copied-files'],
        ['file:///tmp/a%20b.png', 'file:///tmp/c.pdf'], 120, 80, 1]], 'the start');
});

test('Moves and modifier taps follow; the button coming up ends the drag once', () => {
    const [shell, monitor] = running();
    shell.dragStarts(['text/uri-list']);
    shell.answerRead('file:///tmp/a.png\n');
    shell.calls = [];

    shell.tick();
    same(shell.calls, [], 'no change, no call');
    shell.pointerState = [410, 300, kButton1];
    shell.tick();
    shell.pointerState = [410, 300, kButton1 | kMod4];
    shell.tick();
    shell.pointerState = [410, 300, kButton1 | kSuper | kControl | kAlt];
    shell.tick();
    same(shell.calls, [['DragMoved', 410, 300, 0], ['DragMoved', 410, 300, 8],
        ['DragMoved', 410, 300, 14]], 'moves and keys');

    shell.calls = [];
    shell.pointerState = [500, 320, 0];
    shell.tick();
    same(shell.calls, [['DragEnded', 500, 320]], 'the drop point');
    same(shell.timers.size, 0, 'the poll stops');
    check(!monitor.dragging, 'no drag any more');

    // The Shell gives the selection up after the drop: nothing more to say.
    shell.ownerCallback(true, null);
    same(shell.calls.length, 1, 'ended once');
});

test('Drags without files are announced with no files; other selections are not drags', () => {
    const [shell] = running();
    shell.ownerCallback(false, {types: ['text/uri-list']});
    same(shell.calls, [], 'the clipboard changing is no drag');
    same(shell.timers.size, 0, 'no poll');

    shell.dragStarts(['text/plain', 'text/html']);
    same(shell.pendingReads.length, 0, 'nothing to read');
    same(shell.calls, [['DragBegan', ['text/plain', 'text/html'], [], 400, 300, 0]], 'types only');
    shell.ownerCallback(true, null);
    same(shell.calls[1], ['DragEnded', 400, 300], 'the selection given up ends it');
});

test('A drag that ends before its list is read, or is replaced, is never announced', () => {
    const [shell] = running();
    shell.dragStarts(['text/uri-list']);
    shell.ownerCallback(true, null);
    shell.answerRead('file:///tmp/late.png\n');
    same(shell.calls, [], 'too late');

    shell.dragStarts(['text/uri-list']);
    shell.dragStarts(['text/uri-list']);
    shell.answerRead('file:///tmp/first.png\n');
    shell.answerRead('file:///tmp/second.png\n');
    same(shell.calls.map(c => c[0]), ['DragBegan'], 'only the second drag');
    same(shell.calls[0][2], ['file:///tmp/second.png'], 'its files');
    same(shell.timers.size, 1, 'one poll');
});

test('Without Quorvenda on the bus nothing is sent', () => {
    const [shell] = running();
    shell.appCallbacks.vanished();
    shell.dragStarts(['text/uri-list']);
    shell.answerRead('file:///tmp/a.png\n');
    shell.pointerState = [1, 2, kButton1 | kShift];
    shell.tick();
    shell.pointerState = [1, 2, 0];
    shell.tick();
    same(shell.calls, [], 'silent');
});

test('Super opens no overview during a drag of files while Quorvenda listens', () => {
    const [shell] = running();
    shell.dragStarts(['text/plain']);
    shell.ownerCallback(true, null);
    same(shell.overviewKey, [], 'a drag of text leaves the key alone');

    shell.dragStarts(['text/uri-list']);
    shell.answerRead('file:///tmp/a.png\n');
    same(shell.overviewKey, [false], 'held during the drag');
    shell.pointerState = [1, 1, 0];
    shell.tick();
    same(shell.overviewKey, [false, true], 'given back when it ends');

    shell.pointerState = [1, 1, kButton1];
    shell.emit('WatchModifiers', [true]);
    same(shell.overviewKey, [false, true, false], 'and during a drag of X11 programs');
    shell.pointerState = [1, 1, 0];
    shell.tick();
    same(shell.overviewKey, [false, true, false, true], 'until its button is up');
});

test('A nudge moves the pointer one pixel and back, and leaves a move made meanwhile', () => {
    const [shell] = running();
    shell.pointerState = [640, 400, kButton1];
    shell.nudgeCallback();
    same(shell.moves, [[1, 0]], 'out');
    // The hand glides on towards a segment before the way back.
    shell.pointerState = [640, 252, kButton1];
    shell.later.forEach(fn => fn());
    same(shell.moves, [[1, 0], [-1, 0]], 'and back by the pixel only');
});

test('A nudge moves the pointer again once a window shows under it, and stops looking', () => {
    const [shell] = running();
    shell.pointerState = [640, 400, kButton1];
    shell.window = 'source';
    shell.nudgeCallback();
    shell.tick();
    same(shell.moves, [[1, 0]], 'nothing new under it yet');
    shell.window = 'wheel';
    shell.tick();
    same(shell.moves, [[1, 0], [1, 0]], 'the wheel came');
    shell.later.forEach(fn => fn());
    same(shell.moves, [[1, 0], [1, 0], [-1, 0], [-1, 0], [1, 0]], 'back, and once more a moment after');
    same(shell.timers.size, 0, 'no longer looking');
});

test('A nudge for a window already there looks for two seconds at most', () => {
    const [shell] = running();
    shell.window = 'wheel';
    shell.nudgeCallback();
    for (let i = 0; i < 200; i++)
        shell.tick();
    same(shell.moves, [[1, 0]], 'out only, the way back still to come');
    same(shell.timers.size, 0, 'no longer looking');
});

test('At the screen\'s right edge a nudge goes left and back', () => {
    const [shell] = running();
    shell.pointerState = [1279, 400, kButton1];
    shell.nudgeCallback();
    shell.later.forEach(fn => fn());
    same(shell.moves, [[-1, 0], [1, 0]], 'left and back');
});

test('Asked where the pointer is, the extension says', () => {
    const [shell] = running();
    shell.pointerState = [733, 412, 0];
    shell.emit('LocatePointer');
    same(shell.calls, [['PointerLocated', 733, 412]], 'the answer');
});

test('A click-mode wheel is closed by Escape, which the Shell takes only while it shows', () => {
    const [shell, monitor] = running();
    shell.pointerState = [500, 400, 0];
    shell.emit('WatchClickWheel', [250, 150, 500, 500]);
    same(shell.grabs.map(g => g.accelerator),
        ['Escape', 'Return', 'KP_Enter', 'Up', 'Down', 'Left', 'Right', 'Tab', '<Shift>Tab'], 'the keys taken');
    shell.grabs[4].pressed();
    same(shell.calls, [['ClickWheelKey', 'Down']], 'a choosing key handed on');
    shell.calls = [];
    shell.grabs[7].pressed();
    shell.grabs[8].pressed();
    same(shell.calls, [['ClickWheelKey', 'Tab'], ['ClickWheelKey', 'ISO_Left_Tab']], 'Tab both ways, by its X names');
    shell.calls = [];
    shell.grabs[0].pressed();
    same(shell.calls, [['ClickWheelDismissed']], 'the app told');
    same(shell.grabs, [], 'and given back');
    same(shell.timers.size, 0, 'no more watching');

    shell.calls = [];
    shell.emit('WatchClickWheel', [250, 150, 500, 500]);
    shell.emit('WatchClickWheel', [0, 0, 0, 0]);
    same(shell.grabs, [], 'an empty frame gives Escape back');
    same(shell.timers.size, 0, 'and stops the watch');
    shell.emit('WatchClickWheel', [250, 150, 500, 500]);
    shell.appCallbacks.vanished();
    same(shell.grabs, [], 'the app leaving gives Escape back');
    same(shell.timers.size, 0, 'and stops the watch');
    shell.appCallbacks.appeared();
    shell.calls = [];
    shell.emit('WatchClickWheel', [250, 150, 500, 500]);
    monitor.disable();
    same(shell.grabs, [], 'as turning the extension off does');
    same(shell.calls, [['Detach']], 'without a dismissal');
});

test('A modifier key pressed while a click-mode wheel shows is told, one held as it opened is not', () => {
    const [shell] = running();
    // The hot key's Control still held.
    shell.pointerState = [500, 400, kControl];
    shell.emit('WatchClickWheel', [250, 150, 500, 500]);
    same(shell.overviewKey, [false], 'Super opens no overview meanwhile');
    shell.tick();
    same(shell.calls, [], 'the held key');
    shell.pointerState = [500, 400, kControl | kSuper];
    shell.tick();
    shell.tick();
    same(shell.calls, [['ClickWheelKey', 'Super_L']], 'a press, once');
    shell.calls = [];
    shell.pointerState = [500, 400, 0];
    shell.tick();
    same(shell.calls, [], 'releases are not told');
    shell.pointerState = [500, 400, kControl | kShift];
    shell.tick();
    same(shell.calls, [['ClickWheelKey', 'Shift_L'], ['ClickWheelKey', 'Control_L']], 'each key pressed');
    shell.calls = [];
    shell.pointerState = [500, 400, kAlt];
    shell.tick();
    same(shell.calls, [['ClickWheelKey', 'Alt_L']], 'Alt too');
    shell.emit('WatchClickWheel', [0, 0, 0, 0]);
    same(shell.overviewKey, [false, true], 'the overview key given back with the wheel');
});

test('A press outside the click-mode wheel closes it; one on it, or held as it opened, does not', () => {
    const [shell] = running();
    shell.pointerState = [10, 10, kButton1];
    shell.emit('WatchClickWheel', [250, 150, 500, 500]);
    shell.tick();
    same(shell.calls, [], 'the button held as it opened');
    shell.pointerState = [10, 10, 0];
    shell.tick();
    shell.pointerState = [300, 200, kButton1];
    shell.tick();
    shell.pointerState = [300, 200, 0];
    shell.tick();
    shell.pointerState = [749, 649, kButton1];
    shell.tick();
    same(shell.calls, [], 'presses on it');
    shell.pointerState = [749, 649, 0];
    shell.tick();
    shell.pointerState = [750, 300, kButton1];
    shell.tick();
    same(shell.calls, [['ClickWheelDismissed']], 'a press beside it');
    same(shell.grabs, [], 'Escape given back');
    same(shell.timers.size, 0, 'no more watching');
});

test('Keys are reported for a drag the Shell does not see while Quorvenda asks, until the button is up', () => {
    const [shell] = running();
    shell.pointerState = [10, 10, kButton1 | kShift];
    shell.emit('WatchModifiers', [true]);
    shell.tick();
    same(shell.calls, [], 'a key held when asked is no change');
    shell.pointerState = [12, 10, kButton1];
    shell.tick();
    shell.pointerState = [14, 10, kButton1];
    shell.tick();
    shell.pointerState = [14, 10, kButton1 | kControl];
    shell.tick();
    same(shell.calls, [['ModifiersChanged', 0], ['ModifiersChanged', 2]], 'changes only');
    shell.pointerState = [14, 10, kControl];
    shell.tick();
    same(shell.timers.size, 0, 'the button up ends it');

    shell.calls = [];
    shell.pointerState = [14, 10, kButton1];
    shell.emit('WatchModifiers', [true]);
    shell.emit('WatchModifiers', [false]);
    same(shell.timers.size, 0, 'asked to stop');
    shell.emit('WatchModifiers', [true]);
    shell.dragStarts(['text/plain']);
    shell.pointerState = [14, 10, kButton1 | kShift];
    shell.tick();
    same(shell.calls.map(c => c[0]), ['DragBegan', 'DragMoved'], 'a drag the Shell sees speaks for itself');
});

test('Disabling ends a running drag, says goodbye and lets go of everything', () => {
    const [shell, monitor] = running();
    shell.dragStarts(['text/plain']);
    monitor.disable();
    same(shell.calls.map(c => c[0]), ['DragBegan', 'DragEnded', 'Detach'], 'calls');
    check(shell.ownerCallback === null && shell.appCallbacks === null && shell.signals.size === 0,
        'disconnected');
    same(shell.timers.size, 0, 'no poll');
});

test('Keys and lists in the app\'s words', () => {
    same(Monitor.modifierBits(kShift | kButton1), 1, 'shift');
    same(Monitor.modifierBits(kControl), 2, 'control');
    same(Monitor.modifierBits(kAlt), 4, 'alt');
    same(Monitor.modifierBits(kSuper), 8, 'super');
    same(Monitor.parseUriList(null), [], 'no list');
    same(Monitor.parseUriList('file:///a\n#x\n  \nfile:///b'), ['file:///a', 'file:///b'], 'list');
});

// The environment on the Shell's own objects, with the Shell played by stand-ins.
test('The Shell environment speaks to the selection, the pointer and the bus', () => {
    const Gio = imports.gi.Gio;
    const recorded = [];
    const Meta = {SelectionType: {SELECTION_PRIMARY: 0, SELECTION_CLIPBOARD: 1, SELECTION_DND: 2}};
    const selection = {
        handlers: [],
        connect(signal, handler) {
            this.handlers.push([signal, handler]);
            return this.handlers.length;
        },
        transfer_async(type, mimeType, size, stream, cancellable, callback) {
            recorded.push(['transfer', type, mimeType, size > 0]);
            const bytes = new TextEncoder().encode('file:///tmp/x.png\r\n');
            stream.write_all(bytes, null);
            callback(this, 'result');
        },
        transfer_finish(result) {
            recorded.push(['finish', result]);
        },
    };
    const shellGlobal = {
        display: {get_selection: () => selection},
        get_pointer: () => [5, 6, kButton1],
    };
    const session = {
        call(name, path, iface, method, params, replyType, flags) {
            recorded.push(['call', name, path, iface, method, params.deep_unpack(), flags]);
        },
    };
    const FakeGio = Object.create(Gio);
    Object.defineProperty(FakeGio, 'DBus', {value: {session}});
    let toggles = 0;
    class Overview {
        toggle() {
            toggles++;
        }
    }
    const main = {overview: new Overview()};
    const env = Monitor.shellEnvironment(Meta, {}, GLib, FakeGio, main, shellGlobal);
    env.allowOverviewKey(false);
    env.allowOverviewKey(false);
    main.overview.toggle();
    same(toggles, 0, 'the Super key toggles no overview meanwhile');
    env.allowOverviewKey(true);
    main.overview.toggle();
    same(toggles, 1, 'and does again afterwards');

    const seen = [];
    env.connectOwnerChanged((isDrag, source) => seen.push([isDrag, source]));
    same(selection.handlers[0][0], 'owner-changed', 'the signal');
    selection.handlers[0][1](selection, 2, 'source');
    selection.handlers[0][1](selection, 1, 'source');
    same(seen, [[true, 'source'], [false, 'source']], 'the drag selection only');

    let text = null;
    env.readText('text/uri-list', t => (text = t));
    same(text, 'file:///tmp/x.png\r\n', 'the list read');
    same(recorded.slice(0, 2), [['transfer', 2, 'text/uri-list', true], ['finish', 'result']], 'the transfer');

    same(env.pointer(), [5, 6, kButton1], 'the pointer');
    env.call('DragBegan', '(asasiiu)', [['text/uri-list'], ['file:///tmp/x.png'], 5, 6, 1]);
    same(recorded[2], ['call', 'org.quorvenda.Quorvenda', '/org/quorvenda/Quorvenda/ShellDrag',
        'org.quorvenda.Quorvenda.ShellDrag', 'DragBegan',
        [['text/uri-list'], ['file:///tmp/x.png'], 5, 6, 1], Gio.DBusCallFlags.NO_AUTO_START], 'the call');
});

if (failures > 0) {
    printerr(`${failures} failure(s)`);
    System.exit(1);
}
