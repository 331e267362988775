#include "platform/X11DragSource.h"

#include "model/Log.h"
#include "platform/ModifierFlags.h"

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
        const QUrl url = QUrl::fromEncoded(line);
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
    bool incrActive = false;
    Time requestTime = CurrentTime;
    // Qt drag sources answer only a request stamped with the time of the last pointer motion
    // they saw, which moves on as the pointer does: motion is followed while the button is
    // down, and a refused request is made again with the newest motion time.
    Time lastMotionTime = CurrentTime;
    bool followingMotion = false;
    bool watchingKeys = false;
    bool retryOnMotion = false;
    int retries = 0;
    static constexpr int maxRetries = 200;
    QByteArray incrData;
    // One deadline for the whole read, however many parts it comes in.
    QTimer readDeadline;
    // Once the guesses are spent, the read is asked again at each of the recent motion times,
    // newest first, and the guesses after them, round after round: a busy source reads its
    // events late (by seconds under load) and answers only for the motion it last saw, which
    // may be any of them. For two seconds, then it counts as a drag without files; nothing waits
    // on the verdict but the wheel.
    QTimer motionWait;
    static constexpr int motionWaitMs = 100;
    static constexpr qsizetype motionsKept = 64;
    QList<Time> recentMotions;
    bool lateAsking = false;
    QElapsedTimer lateClock;
    static constexpr qint64 lateAskingMs = 2000;
    qsizetype lateIndex = 0;


    ~Impl()
    {
        notifier.reset();
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
            if (recentMotions.isEmpty() || recentMotions.last() != raw.time) {
                recentMotions.append(raw.time);
                if (recentMotions.size() > motionsKept)
                    recentMotions.removeFirst();
            }
            if (reading && retryOnMotion && !lateAsking) {
                retryOnMotion = false;
                motionWait.stop();
                request(lastMotionTime);
            }
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
                recentMotions = {raw.time};
                selectRawEvents(true, false);
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
        if (e.time != requestTime && e.time != CurrentTime)
            return; // the answer to an earlier request
        if (e.property == None) {
            if (lateAsking) {
                askLate();
                return;
            }
            // Refused: the source has seen newer motion since. Ask again with its time; each
            // such answer follows real motion, so only the deadline bounds them.
            if (lastMotionTime != CurrentTime && lastMotionTime > e.time) {
                request(lastMotionTime);
                return;
            }
            // The source stamped its drag with an event we cannot see (a warp, a property
            // change), or one we have not read yet: try the moments just after, and again on
            // motion.
            retryOnMotion = true;
            if (retries < maxRetries) {
                ++retries;
                request(std::max(e.time, lastMotionTime) + 1);
                return;
            }
            lateAsking = true;
            lateIndex = 0;
            lateClock.start();
            askLate();
            return;
        }
        Atom type = None;
        std::optional<QByteArray> bytes = takeProperty(&type, maxListBytes);
        if (!bytes) {
            abandon("The drag source's file list is too long");
            return;
        }
        if (type == incr) {
            // Large lists come in parts, each announced by a new value of the property.
            incrActive = true;
            incrData.clear();
            return;
        }
        finish(std::move(*bytes));
    }

    void propertyChanged(const XPropertyEvent& e)
    {
        if (!reading || !incrActive || e.window != window || e.atom != property
            || e.state != PropertyNewValue)
            return;
        Atom type = None;
        const std::optional<QByteArray> part = takeProperty(&type, maxListBytes - incrData.size());
        if (!part) {
            abandon("The drag source's file list is too long");
            return;
        }
        if (part->isEmpty()) {
            finish(std::exchange(incrData, {}));
            return;
        }
        incrData += *part;
    }

    // The next time of a round: the recent motion times, newest first, then the moments just
    // after the last one; after a round, a pause before the next.
    void askLate()
    {
        const qsizetype seen = recentMotions.size();
        if (lateIndex < seen) {
            request(recentMotions[seen - 1 - lateIndex++]);
            return;
        }
        if (lateIndex < seen + maxRetries) {
            request(lastMotionTime + Time(1 + lateIndex++ - seen));
            return;
        }
        lateIndex = 0;
        // A source that offers no file list refuses every time alike.
        if (lateClock.elapsed() > lateAskingMs) {
            finish({});
            return;
        }
        if (!motionWait.isActive())
            motionWait.start();
    }

    void request(Time time)
    {
        requestTime = time;
        XDeleteProperty(dpy, window, property);
        XConvertSelection(dpy, xdndSelection, uriList, property, window, requestTime);
        flush();
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

    void finish(QByteArray body)
    {
        reading = false;
        retryOnMotion = false;
        incrActive = false;
        incrData.clear();
        readDeadline.stop();
        motionWait.stop();
        Q_EMIT q->dragUrisRead(parseUriList(body));
    }

    // Ends a read with nothing.
    void abandon(const char* why)
    {
        qCDebug(dragLog, "%s", why);
        replaceWindow();
        finish({});
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
    d->motionWait.setSingleShot(true);
    d->motionWait.setInterval(Impl::motionWaitMs);
    connect(&d->motionWait, &QTimer::timeout, this, [this] {
        if (d->reading)
            d->askLate();
    });
    d->readDeadline.setSingleShot(true);
    d->readDeadline.setInterval(readDeadlineMs);
    connect(&d->readDeadline, &QTimer::timeout, this, [this] {
        if (d->reading)
            d->abandon("The drag source did not send its file list in time");
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
    d->incr = XInternAtom(dpy, "INCR", False);
    d->property = XInternAtom(dpy, "QUORVENDA_DRAG_URIS", False);

    XFixesSelectSelectionInput(dpy, d->root, d->xdndSelection, XFixesSetSelectionOwnerNotifyMask);

    d->writeRawSelection();

    d->loadModifierMap();
    d->loadPointerMap();
    if (const auto pointer = d->queryPointer())
        d->flags = flagsFromMask(pointer->second);
    XSync(dpy, False);

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

void X11DragSource::readDragUris()
{
    if (!d->dpy) {
        Q_EMIT dragUrisRead({});
        return;
    }
    // The owner of a read still under way must not answer this one.
    if (d->reading)
        d->replaceWindow();
    d->reading = true;
    d->incrActive = false;
    d->incrData.clear();
    d->retries = 0;
    d->lateAsking = false;
    d->lateIndex = 0;
    d->retryOnMotion = false;
    d->readDeadline.start();
    // Qt's drag sources refuse a request made at CurrentTime.
    d->request(d->selectionTime);
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
