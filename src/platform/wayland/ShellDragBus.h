#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QStringList>

namespace qv {

class ShellDragSource;

// The interface org.quorvenda.Quorvenda.ShellDrag that GNOME Shell's extension calls: it hands
// each call to its source, with the caller's bus name where that matters.
class ShellDragBus : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quorvenda.Quorvenda.ShellDrag")

public:
    // A child of the source, which is the object put on the bus.
    explicit ShellDragBus(ShellDragSource* source);

public Q_SLOTS:
    void Attach(const QDBusMessage& message);
    void Detach(const QDBusMessage& message);
    // Modifiers: 1 Shift, 2 Control, 4 Alt, 8 Super.
    void DragBegan(const QStringList& types, const QStringList& uris, int x, int y, uint modifiers);
    void DragMoved(int x, int y, uint modifiers);
    void DragEnded(int x, int y);
    // The modifier keys during a drag the Shell does not see, while WatchModifiers asks for them.
    void ModifiersChanged(uint modifiers);
    // The pointer, after LocatePointer.
    void PointerLocated(int x, int y);
    // Escape, or a press outside the frame WatchClickWheel named.
    void ClickWheelDismissed(const QDBusMessage& message);
    // A key the wheel takes, by its X key name, while WatchClickWheel watches; a modifier
    // key is told as it goes down.
    void ClickWheelKey(const QString& name, const QDBusMessage& message);

Q_SIGNALS:
    // To the extension: move the pointer by one pixel and back.
    void NudgePointer();
    // To the extension: report the modifier keys until the button comes up (true), or stop.
    void WatchModifiers(bool watch);
    // To the extension: say where the pointer is (PointerLocated).
    void LocatePointer();
    // To the extension: while a click-mode wheel shows in this frame, take Escape and watch for
    // a press outside it (ClickWheelDismissed); an empty frame ends it.
    void WatchClickWheel(int x, int y, int width, int height);

private:
    ShellDragSource* m_source;
};

} // namespace qv
