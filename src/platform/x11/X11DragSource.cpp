#include "platform/x11/X11DragSource.h"

#include "model/files/NativeFileName.h"
#include "model/Log.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/drags/ModifierFlags.h"
#include "platform/x11/X11ErrorTrap.h"

#include <algorithm>
#include <QGuiApplication>
#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QElapsedTimer>
#include <QTimer>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/record.h>
#include <X11/Xproto.h>
#include <X11/keysym.h>

#include <optional>
#include <utility>

namespace qv {

namespace {

// X keysyms of the keys the wheel answers to during a drag, in the stored key-code form.
struct KeyCodeRow {
    KeySym keysym;
    int keyCode;
};
constexpr KeyCodeRow keyCodeTable[] = {
    {XK_Tab, 48},   {XK_ISO_Left_Tab, 48}, {XK_Return, 36}, {XK_KP_Enter, 76}, {XK_Escape, 53},
    {XK_Left, 123}, {XK_Right, 124},       {XK_Down, 125},  {XK_Up, 126},
};

quint32 flagsFromMask(unsigned int mask)
{
    quint32 flags = 0;
    if (mask & ShiftMask)
        flags |= ModifierFlag::shift;
    if (mask & ControlMask)
        flags |= ModifierFlag::control;
    if (mask & Mod1Mask)
        flags |= ModifierFlag::option;
    if (mask & Mod4Mask)
        flags |= ModifierFlag::command;
    return flags;
}

} // namespace

QList<QUrl> parseUriList(const QByteArray& body)
{
    QList<QUrl> uris;
    for (const QByteArray& rawLine : body.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url = urlOfUriListLine(line);
        if (url.isValid() && !url.scheme().isEmpty())
            uris.append(url);
    }
    return uris;
}

struct X11DragSource::Impl {
    X11DragSource* q = nullptr;
    Display* dpy = nullptr;
    Window root = 0;
    Window window = 0; // receives the selection's answers
    int xiOpcode = 0;
    int fixesEventBase = 0;
    Atom xdndSelection = 0;
    Atom uriList = 0;
    Atom targetsAtom = 0;
    Atom mozUrlAtom = 0;
    Atom typeListAtom = 0;
    Atom directSaveAtom = 0;
    Atom incr = 0;
    Atom property = 0;
    std::unique_ptr<QSocketNotifier> notifier;
    bool draining = false;
    bool drainQueued = false;

    quint32 flags = 0;
    QHash<int, quint32> modifierKeys; // key code -> ModifierFlag bit
    QSet<int> heldKeys;
    // A key release held back until the next event shows whether it was half of a repeat.
    std::optional<std::pair<int, Time>> pendingRelease;
    QList<unsigned char> pointerMap; // physical button - 1 -> logical button

    Time selectionTime = CurrentTime;
    bool reading = false;
    // A read asks, in turn, for the offered types, the URI list and the web address: each step
    // is skipped when what is known already says its answer cannot matter.
    enum class Step { targets, uris, mozUrl };
    Step step = Step::targets;
    Atom target = 0;
    Window owner = None;
    DragOffer offer;
    // The types came from the owner's answer, not from a property an earlier drag may have
    // left behind.
    bool typesAnswered = false;
    // How long refusals are asked past before the step counts as unanswered; unbounded (only
    // the read's deadline) when the source is known or likely to have what is asked.
    std::optional<qint64> stepLimitMs;
    bool incrActive = false;
    Time requestTime = CurrentTime;
    Time answeredTime = CurrentTime;
    // Qt drag sources answer only a request stamped with the time they last told a drop target
    // about, which moves on as the pointer does: motion is followed while the button is down,
    // and a refused request is made again with the newest motion time.
    Time lastMotionTime = CurrentTime;
    Time pressTime = CurrentTime;
    bool followingMotion = false;
    bool watchingKeys = false;
    QByteArray incrData;
    // One deadline for the whole read, however many parts it comes in.
    QTimer readDeadline;
    // The time a Qt source wants is that of the last event it read before it last told a drop
    // target where the pointer is (none before it has told one): often a motion we saw, but
    // perhaps one from before we followed motion, or an event we cannot see at all, and under
    // load the source reads its events seconds late. So, when the newest motion time is
    // refused, the request is made in rounds for every millisecond since the press (the newest
    // few seconds of them), all sent at once; a round ends when every request is answered, and
    // the next follows a pause later. Until the deadline when the source offers what is asked
    // or does not say what it offers; for two seconds when only a type list an earlier drag may
    // have left says it does not. Nothing waits on the verdict but the wheel.
    QTimer roundTimer;
    static constexpr int roundPauseMs = 100;
    // A source that leaves some requests unanswered does not hold the next round back longer.
    static constexpr int roundWaitMs = 1000;
    static constexpr Time roundSpanMs = 4000;
    QSet<Time> roundTimes;
    qsizetype roundOutstanding = 0;
    bool lateAsking = false;
    QElapsedTimer lateClock;
    static constexpr qint64 doubtfulStepMs = 2000;
    Atom clockAtom = 0;
    // A source tells the window under the pointer what it offers in its XdndEnter message: up
    // to three types in the message itself, and a flag saying the rest are in its XdndTypeList.
    // A Qt source answers no TARGETS request and sets no type list for three types or fewer,
    // so its messages to other clients are read through the RECORD extension, on a connection
    // of their own.
    Atom enterAtom = 0;
    Display* recordDpy = nullptr;
    XRecordContext recordContext = 0;
    std::unique_ptr<QSocketNotifier> recordNotifier;
    struct Enter {
        Window source = None;
        bool moreThanThree = false;
        QList<Atom> types;
    };
    // The last XdndEnter seen since the primary button went down.
    std::optional<Enter> lastEnter;
    // A web address with its title is short; more is not one.
    static constexpr qsizetype maxMozUrlBytes = 64 * 1024;


    ~Impl()
    {
        notifier.reset();
        recordNotifier.reset();
        if (recordContext) {
            XRecordDisableContext(dpy, recordContext);
            XRecordFreeContext(dpy, recordContext);
            XSync(dpy, False);
        }
        if (recordDpy)
            XCloseDisplay(recordDpy);
        if (dpy) {
            if (window)
                XDestroyWindow(dpy, window);
            XCloseDisplay(dpy);
        }
    }

    void loadModifierMap()
    {
        modifierKeys.clear();
        XModifierKeymap* map = XGetModifierMapping(dpy);
        if (!map)
            return;
        const std::pair<int, quint32> rows[] = {{ShiftMapIndex, ModifierFlag::shift},
                                                {ControlMapIndex, ModifierFlag::control},
                                                {Mod1MapIndex, ModifierFlag::option},
                                                {Mod4MapIndex, ModifierFlag::command}};
        for (auto [index, flag] : rows) {
            for (int k = 0; k < map->max_keypermod; ++k) {
                const int code = map->modifiermap[index * map->max_keypermod + k];
                if (code)
                    modifierKeys.insert(code, flag);
            }
        }
        XFreeModifiermap(map);
    }

    void loadPointerMap()
    {
        unsigned char map[256];
        const int count = XGetPointerMapping(dpy, map, int(sizeof map));
        pointerMap = QList<unsigned char>(map, map + qMax(count, 0));
    }

    Window createWindow()
    {
        XSetWindowAttributes attributes{};
        attributes.event_mask = PropertyChangeMask;
        return XCreateWindow(dpy, root, -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
                             CopyFromParent, CWEventMask, &attributes);
    }

    // An owner dropped in the middle of a transfer may still write to our window: it gets
    // another, so that nothing late lands in the next read.
    void replaceWindow()
    {
        XDestroyWindow(dpy, window);
        window = createWindow();
        flush();
    }

    int logicalButton(int physical) const
    {
        return physical >= 1 && physical <= pointerMap.size() ? pointerMap[physical - 1] : physical;
    }

    // Xlib reads events into its own queue during round trips, where the socket notifier
    // cannot see them: every round trip is followed by a drain.
    void queueDrain()
    {
        if (drainQueued)
            return;
        drainQueued = true;
        QMetaObject::invokeMethod(q, [this] { drain(); }, Qt::QueuedConnection);
    }

    void drain()
    {
        drainQueued = false;
        if (!dpy || draining)
            return;
        draining = true;
        // XPending flushes the output first, and so may read more events.
        do {
            while (XPending(dpy) > 0) {
                XEvent event;
                XNextEvent(dpy, &event);
                handle(event);
            }
            flushPendingRelease();
        } while (XPending(dpy) > 0);
        draining = false;
    }

    // Flushing can read events into Xlib's queue too.
    void flush()
    {
        XFlush(dpy);
        queueDrain();
    }

    void handle(XEvent& event)
    {
        if (event.type == GenericEvent && event.xcookie.extension == xiOpcode) {
            if (XGetEventData(dpy, &event.xcookie)) {
                handleRaw(event.xcookie.evtype, *static_cast<XIRawEvent*>(event.xcookie.data));
                XFreeEventData(dpy, &event.xcookie);
            }
            return;
        }
        flushPendingRelease();
        if (event.type == fixesEventBase + XFixesSelectionNotify) {
            const auto& e = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
            if (e.subtype == XFixesSetSelectionOwnerNotify && e.selection == xdndSelection
                && e.owner != None) {
                selectionTime = e.selection_timestamp;
                // A drag began: the keys count until the button comes up.
                if (followingMotion)
                    selectRawEvents(true, true);
                Q_EMIT q->dragSelectionChanged();
            }
            return;
        }
        switch (event.type) {
        case SelectionNotify: selectionAnswered(event.xselection); break;
        case PropertyNotify: propertyChanged(event.xproperty); break;
        case MappingNotify:
            if (event.xmapping.request == MappingPointer) {
                loadPointerMap();
            } else {
                XRefreshKeyboardMapping(&event.xmapping);
                loadModifierMap();
            }
            break;
        default: break;
        }
    }

    void handleRaw(int type, const XIRawEvent& raw)
    {
        if (type == XI_RawMotion) {
            lastMotionTime = raw.time;
            return;
        }
        if ((type == XI_RawKeyPress || type == XI_RawKeyRelease) && !watchingKeys)
            return; // queued before the keys were let go of
        if (type == XI_RawKeyPress && pendingRelease && pendingRelease->first == raw.detail
            && pendingRelease->second == raw.time) {
            // A release and a press of one key at one moment: the server repeating a held key.
            pendingRelease.reset();
            return;
        }
        flushPendingRelease();
        switch (type) {
        case XI_RawButtonPress:
            if (logicalButton(raw.detail) == 1) {
                lastMotionTime = raw.time;
                pressTime = raw.time;
                lastEnter.reset();
                selectRawEvents(true, false);
                // X11 saw the press, so it knows the pointer: no other back end's last sight of
                // it (XWayland sees none over native windows) stands in for it any more.
                notePointerSeen(std::nullopt);
                Q_EMIT q->primaryButtonPressed();
            }
            break;
        case XI_RawButtonRelease:
            if (logicalButton(raw.detail) == 1) {
                selectRawEvents(false, false);
                Q_EMIT q->primaryButtonReleased();
            }
            break;
        case XI_RawKeyPress: keyPressed(raw.detail); break;
        case XI_RawKeyRelease: pendingRelease = std::make_pair(raw.detail, raw.time); break;
        default: break;
        }
    }

    void flushPendingRelease()
    {
        if (!pendingRelease)
            return;
        const int code = pendingRelease->first;
        pendingRelease.reset();
        heldKeys.remove(code);
        const auto modifier = modifierKeys.constFind(code);
        if (modifier == modifierKeys.constEnd() || !(flags & *modifier))
            return;
        for (int held : std::as_const(heldKeys)) {
            if (modifierKeys.value(held) == *modifier)
                return; // the other key of that modifier is still down
        }
        flags &= ~*modifier;
        Q_EMIT q->modifiersChanged(flags);
    }

    void keyPressed(int code)
    {
        const bool repeat = heldKeys.contains(code);
        heldKeys.insert(code);
        const auto modifier = modifierKeys.constFind(code);
        if (!repeat && modifier != modifierKeys.constEnd() && !(flags & *modifier)) {
            flags |= *modifier;
            Q_EMIT q->modifiersChanged(flags);
        }
        const KeySym keysym = XkbKeycodeToKeysym(dpy, KeyCode(code), 0, 0);
        for (const KeyCodeRow& row : keyCodeTable) {
            if (row.keysym == keysym) {
                Q_EMIT q->keyPressed(row.keyCode);
                break;
            }
        }
    }

    // The whole property, deleted after reading (which asks an INCR owner for the next part);
    // nothing, and the property left alone, when it holds more than room bytes.
    std::optional<QByteArray> takeProperty(Atom* typeOut, qsizetype room)
    {
        QByteArray bytes;
        *typeOut = None;
        long offset = 0;
        for (;;) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(dpy, window, property, offset, 1L << 16, False,
                                   AnyPropertyType, &type, &format, &count, &after, &data)
                != Success)
                break;
            *typeOut = type;
            if (format == 8 && quint64(bytes.size()) + count + after > quint64(room)) {
                if (data)
                    XFree(data);
                queueDrain();
                return std::nullopt;
            }
            if (data) {
                if (format == 8)
                    bytes.append(reinterpret_cast<const char*>(data), qsizetype(count));
                XFree(data);
            }
            if (type == None || format != 8 || after == 0)
                break;
            offset += long(count / 4);
        }
        XDeleteProperty(dpy, window, property);
        flush();
        return bytes;
    }

    void selectionAnswered(const XSelectionEvent& e)
    {
        if (!reading || e.requestor != window || e.selection != xdndSelection)
            return;
        // Qt names no target in a refusal, and may name another in an answer.
        const bool asked = lateAsking ? roundTimes.contains(e.time)
                                      : (e.time == requestTime || e.time == CurrentTime);
        if (!asked)
            return; // the answer to an earlier request
        if (e.property == None) {
            // Qt sources do not say what they offer; the other steps find out.
            if (step == Step::targets) {
                afterTargets();
                return;
            }
            if (lateAsking) {
                roundTimes.remove(e.time);
                if (--roundOutstanding <= 0)
                    roundTimer.start(roundPauseMs);
                return;
            }
            // Refused: the source may have seen newer motion since. Ask again with its time.
            if (lastMotionTime != CurrentTime && lastMotionTime > e.time) {
                request(lastMotionTime);
                return;
            }
            lateAsking = true;
            lateClock.start();
            askRound();
            return;
        }
        answeredTime = e.time == CurrentTime ? requestTime : e.time;
        // The rest of a round's refusals, still on their way, are not this request's.
        requestTime = answeredTime;
        lateAsking = false;
        roundTimer.stop();
        if (step == Step::targets) {
            const QStringList types = takeAtomNames();
            if (!types.isEmpty()) {
                offer.types = types;
                typesAnswered = true;
            }
            afterTargets();
            return;
        }
        Atom type = None;
        std::optional<QByteArray> bytes = takeProperty(&type, stepRoom());
        if (!bytes) {
            tooLong();
            return;
        }
        if (type == incr) {
            // Large lists come in parts, each announced by a new value of the property.
            incrActive = true;
            incrData.clear();
            return;
        }
        stepAnswered(std::move(*bytes));
    }

    void propertyChanged(const XPropertyEvent& e)
    {
        if (!reading || !incrActive || e.window != window || e.atom != property
            || e.state != PropertyNewValue)
            return;
        Atom type = None;
        const std::optional<QByteArray> part = takeProperty(&type, stepRoom() - incrData.size());
        if (!part) {
            tooLong();
            return;
        }
        if (part->isEmpty()) {
            stepAnswered(std::exchange(incrData, {}));
            return;
        }
        incrData += *part;
    }

    qsizetype stepRoom() const { return step == Step::mozUrl ? maxMozUrlBytes : maxListBytes; }

    void tooLong()
    {
        qCDebug(dragLog, "%s", step == Step::uris ? "The drag source's file list is too long"
                                                  : "The drag source's web address is too long");
        replaceWindow();
        stepAnswered({});
    }

    // The atoms of a format-32 answer, by name.
    QStringList takeAtomNames()
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        QStringList names;
        if (XGetWindowProperty(dpy, window, property, 0, 4096, True, AnyPropertyType, &type,
                               &format, &count, &after, &data)
                == Success
            && data && format == 32 && count > 0) {
            names = atomNames(reinterpret_cast<Atom*>(data), int(count));
        }
        if (data)
            XFree(data);
        flush();
        return names;
    }

    QStringList atomNames(Atom* atoms, int count)
    {
        QStringList names;
        QList<char*> raw(count, nullptr);
        X11ErrorTrap trap(dpy);
        const bool ok = XGetAtomNames(dpy, atoms, count, raw.data()) != 0;
        trap.finish();
        for (char* name : raw) {
            if (ok && name)
                names.append(QString::fromLatin1(name));
            if (name)
                XFree(name);
        }
        queueDrain();
        return names;
    }

    // A property of the source's window as format and items. The window may be gone by now;
    // nothing then.
    struct OwnerProperty {
        int format = 0;
        unsigned long count = 0;
        QByteArray bytes;
    };
    std::optional<OwnerProperty> ownerProperty(Atom property, Atom type, long longs)
    {
        if (owner == None)
            return std::nullopt;
        Atom actual = None;
        OwnerProperty read;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        X11ErrorTrap trap(dpy);
        const int status = XGetWindowProperty(dpy, owner, property, 0, longs, False, type, &actual,
                                              &read.format, &read.count, &after, &data);
        const bool failed = trap.finish() != 0 || status != Success;
        std::optional<OwnerProperty> result;
        if (!failed && data) {
            // Xlib hands 32-bit items as longs.
            const qsizetype itemSize = read.format == 32 ? qsizetype(sizeof(long)) : read.format / 8;
            read.bytes = QByteArray(reinterpret_cast<const char*>(data), itemSize * qsizetype(read.count));
            result = std::move(read);
        }
        if (data)
            XFree(data);
        queueDrain();
        return result;
    }

    // The type list a source with many types puts on its window.
    QStringList ownerTypeList()
    {
        const std::optional<OwnerProperty> list = ownerProperty(typeListAtom, XA_ATOM, 4096);
        if (!list || list->format != 32 || list->count == 0)
            return {};
        QByteArray atoms = list->bytes;
        return atomNames(reinterpret_cast<Atom*>(atoms.data()), int(list->count));
    }

    // The file name a source that offers a direct save suggests, on its window.
    QString ownerDirectSaveName()
    {
        const std::optional<OwnerProperty> name = ownerProperty(directSaveAtom, AnyPropertyType, 1024);
        if (!name || name->format != 8)
            return {};
        return QString::fromUtf8(name->bytes);
    }

    // The server's time now, from a property change of our own.
    Time serverTime()
    {
        XChangeProperty(dpy, window, clockAtom, XA_INTEGER, 8, PropModeAppend, nullptr, 0);
        XSync(dpy, False);
        XEvent event;
        const auto isClock = [](Display*, XEvent* e, XPointer self) -> Bool {
            const auto* impl = reinterpret_cast<const Impl*>(self);
            return e->type == PropertyNotify && e->xproperty.window == impl->window
                && e->xproperty.atom == impl->clockAtom;
        };
        const bool found = XCheckIfEvent(dpy, &event, isClock, reinterpret_cast<XPointer>(this));
        queueDrain();
        return found ? event.xproperty.time : std::max(lastMotionTime, selectionTime);
    }

    // One request for each moment of the round, newest first, all sent at once: only the one
    // the source wants writes the property.
    void askRound()
    {
        if (stepLimitMs && lateClock.elapsed() > *stepLimitMs) {
            // A source that does not offer what is asked refuses every time alike.
            stepAnswered({});
            return;
        }
        const Time now = serverTime();
        Time from = pressTime != CurrentTime && pressTime <= now ? pressTime : selectionTime;
        if (from > now || now - from > roundSpanMs)
            from = now > roundSpanMs ? now - roundSpanMs : 1;
        roundTimes.clear();
        XDeleteProperty(dpy, window, property);
        for (Time t = now; t >= from && t != CurrentTime; --t) {
            roundTimes.insert(t);
            XConvertSelection(dpy, xdndSelection, target, property, window, t);
        }
        // A Qt source that has not yet told any drop target about the drag wants no time at all.
        roundTimes.insert(CurrentTime);
        XConvertSelection(dpy, xdndSelection, target, property, window, CurrentTime);
        roundOutstanding = roundTimes.size();
        requestTime = now;
        flush();
        roundTimer.start(roundWaitMs);
    }

    void request(Time time)
    {
        requestTime = time;
        XDeleteProperty(dpy, window, property);
        XConvertSelection(dpy, xdndSelection, target, property, window, requestTime);
        flush();
    }

    void beginStep(Step next, Atom what, std::optional<qint64> limitMs, Time at)
    {
        step = next;
        target = what;
        stepLimitMs = limitMs;
        lateAsking = false;
        roundTimes.clear();
        roundTimer.stop();
        incrActive = false;
        incrData.clear();
        request(at);
    }

    // Starts watching XdndEnter messages; false where the server has no RECORD extension.
    bool startRecording()
    {
        int major = 0;
        int minor = 0;
        if (!XRecordQueryVersion(dpy, &major, &minor))
            return false;
        recordDpy = XOpenDisplay(DisplayString(dpy));
        if (!recordDpy)
            return false;
        XRecordRange* range = XRecordAllocRange();
        if (!range) {
            XCloseDisplay(std::exchange(recordDpy, nullptr));
            return false;
        }
        range->core_requests.first = X_SendEvent;
        range->core_requests.last = X_SendEvent;
        XRecordClientSpec clients = XRecordAllClients;
        recordContext = XRecordCreateContext(dpy, 0, &clients, 1, &range, 1);
        XFree(range);
        XSync(dpy, False);
        if (!recordContext
            || !XRecordEnableContextAsync(recordDpy, recordContext, &Impl::recorded, reinterpret_cast<XPointer>(this))) {
            if (recordContext)
                XRecordFreeContext(dpy, std::exchange(recordContext, 0));
            XCloseDisplay(std::exchange(recordDpy, nullptr));
            return false;
        }
        recordNotifier = std::make_unique<QSocketNotifier>(ConnectionNumber(recordDpy), QSocketNotifier::Read);
        QObject::connect(recordNotifier.get(), &QSocketNotifier::activated, q, [this] {
            XRecordProcessReplies(recordDpy);
        });
        XRecordProcessReplies(recordDpy);
        return true;
    }

    static quint32 card32(const unsigned char* at, bool swapped)
    {
        const quint32 value = quint32(at[0]) | quint32(at[1]) << 8 | quint32(at[2]) << 16 | quint32(at[3]) << 24;
        const quint32 bigEndian = quint32(at[3]) | quint32(at[2]) << 8 | quint32(at[1]) << 16 | quint32(at[0]) << 24;
        const bool littleHost = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
        // Requests come in their client's byte order; swapped means not the server's.
        return (littleHost != swapped) ? value : bigEndian;
    }

    // A SendEvent request of some client: an XdndEnter in it says what a drag offers.
    static void recorded(XPointer closure, XRecordInterceptData* data)
    {
        auto* self = reinterpret_cast<Impl*>(closure);
        // SendEvent: opcode, propagate, length, destination, event mask, then the 32-byte event.
        constexpr int eventAt = 12;
        if (data->category == XRecordFromClient && data->data && data->data_len * 4 >= eventAt + 32) {
            const unsigned char* request = data->data;
            const unsigned char* event = request + eventAt;
            const bool swapped = data->client_swapped;
            if (request[0] == X_SendEvent && (event[0] & 0x7f) == ClientMessage && event[1] == 32
                && Atom(card32(event + 8, swapped)) == self->enterAtom) {
                Enter enter;
                enter.source = Window(card32(event + 12, swapped));
                enter.moreThanThree = card32(event + 16, swapped) & 1;
                for (int i = 0; i < 3; ++i) {
                    if (const Atom type = Atom(card32(event + 20 + 4 * i, swapped)))
                        enter.types.append(type);
                }
                self->enterSeen(std::move(enter));
            }
        }
        XRecordFreeData(data);
    }

    void enterSeen(Enter enter)
    {
        lastEnter = std::move(enter);
        if (reading)
            QMetaObject::invokeMethod(q, [this] { applyEnter(); }, Qt::QueuedConnection);
    }

    // The types the drag's source told a drop target, when nothing better said them.
    void applyEnter()
    {
        if (!reading || typesAnswered || !lastEnter || lastEnter->source != owner || owner == None)
            return;
        QList<Atom> atoms = lastEnter->types;
        const QStringList types = lastEnter->moreThanThree ? ownerTypeList() : atomNames(atoms.data(), int(atoms.size()));
        if (types.isEmpty())
            return;
        offer.types = types;
        typesAnswered = true;
        qCDebug(dragLog, "The drag source told a drop target it offers %s", qUtf8Printable(types.join(QLatin1String(", "))));
        // A list asked for that the source now says it does not have is not waited for.
        if (step == Step::uris && !types.contains(QLatin1String("text/uri-list"))) {
            lateAsking = false;
            roundTimes.clear();
            roundTimer.stop();
            stepAnswered({});
        }
    }

    void afterTargets()
    {
        applyEnter();
        if (offer.types.isEmpty())
            offer.types = ownerTypeList();
        const bool listed = offer.types.contains(QLatin1String("text/uri-list"));
        if (!offer.types.isEmpty() && !listed && typesAnswered) {
            askForMozUrl();
            return;
        }
        // A type list on the owner's window may be left over from an earlier drag: it cannot
        // rule the list out, only make it doubtful.
        const bool doubtful = !offer.types.isEmpty() && !listed;
        beginStep(Step::uris, uriList, doubtful ? std::optional(doubtfulStepMs) : std::nullopt,
                  selectionTime);
    }

    // The web address names the data of a drag without files, unless the source suggested a
    // name. Only worth a short wait: the data is saved under its type's name without it, and
    // a Qt source lists the type but cannot hand it over.
    void askForMozUrl()
    {
        const bool data = std::any_of(offer.types.begin(), offer.types.end(), [](const QString& t) {
            return t.startsWith(QLatin1String("image/"))
                || t == QLatin1String("application/octet-stream");
        });
        if (data && offer.types.contains(QLatin1String("XdndDirectSave0")))
            offer.directSaveName = ownerDirectSaveName();
        if (!data || !offer.directSaveName.isEmpty()
            || !offer.types.contains(QLatin1String("text/x-moz-url"))) {
            finishOffer();
            return;
        }
        const Time at = answeredTime != CurrentTime ? std::max(answeredTime, lastMotionTime)
                                                   : std::max(selectionTime, lastMotionTime);
        beginStep(Step::mozUrl, mozUrlAtom, doubtfulStepMs, at);
    }

    void stepAnswered(QByteArray body)
    {
        if (step == Step::uris) {
            offer.uris = parseUriList(body);
            if (!offer.localFiles().isEmpty())
                finishOffer();
            else
                askForMozUrl();
            return;
        }
        if (step == Step::mozUrl)
            offer.mozUrl = std::move(body);
        finishOffer();
    }

    // Motion is followed while the primary button is down, and the keys only while a drag
    // runs: the rest of the session's typing is none of our business.
    void selectRawEvents(bool withMotion, bool withKeys)
    {
        if (followingMotion == withMotion && watchingKeys == withKeys)
            return;
        followingMotion = withMotion;
        const bool keysBegin = withKeys && !watchingKeys;
        if (!withKeys && watchingKeys) {
            flushPendingRelease();
            heldKeys.clear();
        }
        watchingKeys = withKeys;
        writeRawSelection();
        if (keysBegin)
            reloadKeyboardState();
    }

    void writeRawSelection()
    {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
        if (watchingKeys) {
            XISetMask(bits, XI_RawKeyPress);
            XISetMask(bits, XI_RawKeyRelease);
        }
        if (followingMotion)
            XISetMask(bits, XI_RawMotion);
        XIEventMask mask;
        mask.deviceid = XIAllMasterDevices;
        mask.mask_len = int(sizeof bits);
        mask.mask = bits;
        XISelectEvents(dpy, root, &mask, 1);
        // Once the server has it, no key of the drag is missed and none after it heard.
        XSync(dpy, False);
        queueDrain();
    }

    // The keys went unheard until now: start from the keyboard as it is.
    void reloadKeyboardState()
    {
        pendingRelease.reset();
        heldKeys.clear();
        char keys[32] = {};
        XQueryKeymap(dpy, keys);
        for (int code = 0; code < 256; ++code) {
            if (keys[code / 8] & (1 << (code % 8)))
                heldKeys.insert(code);
        }
        if (const auto pointer = queryPointer())
            flags = flagsFromMask(pointer->second);
    }

    void finishOffer()
    {
        reading = false;
        lateAsking = false;
        roundTimes.clear();
        incrActive = false;
        incrData.clear();
        readDeadline.stop();
        roundTimer.stop();
        // Set by the source once the drag runs, so looked for last.
        if (offer.localFiles().isEmpty() && offer.directSaveName.isEmpty()
            && offer.types.contains(QLatin1String("XdndDirectSave0")))
            offer.directSaveName = ownerDirectSaveName();
        const DragOffer read = std::exchange(offer, {});
        Q_EMIT q->dragOfferRead(read);
    }

    // The deadline: what was read so far is all there is.
    void giveUp()
    {
        qCDebug(dragLog, "%s", step == Step::mozUrl
                                   ? "The drag source did not send its web address in time"
                                   : "The drag source did not send its file list in time");
        replaceWindow();
        finishOffer();
    }

    std::optional<std::pair<QPoint, unsigned int>> queryPointer()
    {
        if (!dpy)
            return std::nullopt;
        Window rootReturn = 0;
        Window child = 0;
        int rootX = 0;
        int rootY = 0;
        int winX = 0;
        int winY = 0;
        unsigned int mask = 0;
        const bool ok = XQueryPointer(dpy, root, &rootReturn, &child, &rootX, &rootY, &winX,
                                      &winY, &mask);
        queueDrain();
        if (!ok)
            return std::nullopt;
        return std::make_pair(QPoint(rootX, rootY), mask);
    }
};

X11DragSource::X11DragSource(QObject* parent)
    : DragEventSource(parent)
    , d(std::make_unique<Impl>())
{
    d->q = this;
    d->roundTimer.setSingleShot(true);
    connect(&d->roundTimer, &QTimer::timeout, this, [this] {
        if (d->reading && d->lateAsking)
            d->askRound();
    });
    d->readDeadline.setSingleShot(true);
    d->readDeadline.setInterval(readDeadlineMs);
    connect(&d->readDeadline, &QTimer::timeout, this, [this] {
        if (d->reading)
            d->giveUp();
    });
}

X11DragSource::~X11DragSource() = default;

void X11DragSource::setReadDeadline(int ms)
{
    d->readDeadline.setInterval(ms);
}

bool X11DragSource::start(QString* whyNot)
{
    if (d->dpy)
        return true;
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        *whyNot = QStringLiteral("the session is not X11 (platform %1)")
                      .arg(QGuiApplication::platformName());
        return false;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        *whyNot = QStringLiteral("no X11 display is set");
        return false;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        *whyNot = QStringLiteral("the X11 display could not be opened");
        return false;
    }
    int fixesErrorBase = 0;
    int xiEvent = 0;
    int xiError = 0;
    int xiMajor = 2;
    int xiMinor = 2;
    if (!XFixesQueryExtension(dpy, &d->fixesEventBase, &fixesErrorBase)) {
        XCloseDisplay(dpy);
        *whyNot = QStringLiteral("the X server lacks the XFixes extension");
        return false;
    }
    if (!XQueryExtension(dpy, "XInputExtension", &d->xiOpcode, &xiEvent, &xiError)
        || XIQueryVersion(dpy, &xiMajor, &xiMinor) != Success || xiMajor * 100 + xiMinor < 202) {
        XCloseDisplay(dpy);
        *whyNot = QStringLiteral("the X server lacks XInput 2.2");
        return false;
    }
    d->dpy = dpy;
    d->root = DefaultRootWindow(dpy);
    d->window = d->createWindow();
    d->xdndSelection = XInternAtom(dpy, "XdndSelection", False);
    d->uriList = XInternAtom(dpy, "text/uri-list", False);
    d->targetsAtom = XInternAtom(dpy, "TARGETS", False);
    d->mozUrlAtom = XInternAtom(dpy, "text/x-moz-url", False);
    d->typeListAtom = XInternAtom(dpy, "XdndTypeList", False);
    d->directSaveAtom = XInternAtom(dpy, "XdndDirectSave0", False);
    d->clockAtom = XInternAtom(dpy, "QUORVENDA_CLOCK", False);
    d->enterAtom = XInternAtom(dpy, "XdndEnter", False);
    d->incr = XInternAtom(dpy, "INCR", False);
    d->property = XInternAtom(dpy, "QUORVENDA_DRAG_URIS", False);

    XFixesSelectSelectionInput(dpy, d->root, d->xdndSelection, XFixesSetSelectionOwnerNotifyMask);

    d->writeRawSelection();

    d->loadModifierMap();
    d->loadPointerMap();
    if (const auto pointer = d->queryPointer())
        d->flags = flagsFromMask(pointer->second);
    XSync(dpy, False);

    if (!d->startRecording())
        qCInfo(dragLog, "The X server has no RECORD extension: drags of three types or fewer from some "
                        "programs are not recognised");

    d->notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] { d->drain(); });
    d->drain();
    return true;
}

bool X11DragSource::isPrimaryButtonDown()
{
    const auto pointer = d->queryPointer();
    return pointer && (pointer->second & Button1Mask);
}

quint32 X11DragSource::currentModifiers()
{
    if (const auto pointer = d->queryPointer())
        d->flags = flagsFromMask(pointer->second);
    return d->flags;
}

QPoint X11DragSource::pointerPosition()
{
    const auto pointer = d->queryPointer();
    return pointer ? pointer->first : QPoint();
}

void X11DragSource::readDragOffer()
{
    if (!d->dpy) {
        Q_EMIT dragOfferRead({});
        return;
    }
    // The owner of a read still under way must not answer this one.
    if (d->reading)
        d->replaceWindow();
    d->reading = true;
    d->offer = {};
    d->typesAnswered = false;
    d->answeredTime = CurrentTime;
    d->owner = XGetSelectionOwner(d->dpy, d->xdndSelection);
    d->readDeadline.start();
    // Qt's drag sources refuse a request made at CurrentTime.
    d->beginStep(Impl::Step::targets, d->targetsAtom, std::nullopt, d->selectionTime);
}

bool X11DragSource::isDragHeld()
{
    if (!d->dpy)
        return true;
    // Our own grab is refused while another client holds one; taken, it is let go at once.
    const int status = XGrabPointer(d->dpy, d->root, False, 0, GrabModeAsync, GrabModeAsync, None,
                                    None, CurrentTime);
    if (status == GrabSuccess)
        XUngrabPointer(d->dpy, CurrentTime);
    d->flush();
    return status != GrabSuccess;
}

void X11DragSource::ownDragBeginning()
{
    // Qt takes the drag selection only once the drag runs, and the server tells us later still.
    if (d->dpy && d->followingMotion)
        d->selectRawEvents(true, true);
}

void X11DragSource::nudgePointer()
{
    if (!d->dpy)
        return;
    const QPoint at = pointerPosition();
    const int width = DisplayWidth(d->dpy, DefaultScreen(d->dpy));
    const int dx = at.x() + 1 < width ? 1 : -1;
    XWarpPointer(d->dpy, None, None, 0, 0, 0, 0, dx, 0);
    d->flush();
    // Drag sources ignore a move and its undoing that arrive back to back.
    QTimer::singleShot(30, this, [this, dx] {
        XWarpPointer(d->dpy, None, None, 0, 0, 0, 0, -dx, 0);
        d->flush();
    });
}

} // namespace qv
