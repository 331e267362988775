#pragma once

#include "platform/drags/DragEventSource.h"

#include <QDBusConnection>
#include <QStringList>

#include <memory>

class QDBusServiceWatcher;

namespace qv {

class ShellDragBus;

// The drag back end of a GNOME Shell Wayland session. No Wayland client sees drags over other
// programs' windows, but the Shell does: our Shell extension (data/gnome-shell-extension) calls
// the methods below on the session bus when a drag starts, moves and ends, and the wheel, an
// X11 window shown through XWayland, takes the drop through Mutter's bridge. The fallback (the
// X11 back end, which sees drags between X11 programs, and the only one while the extension is
// off) speaks whenever the extension reports no drag.
class ShellDragSource : public DragEventSource {
    Q_OBJECT

public:
    static const QString objectPath; // "/org/quorvenda/Quorvenda/ShellDrag"

    // Modifier bits on the bus.
    enum Modifier : uint { shift = 1, control = 2, alt = 4, super = 8 };

    // The fallback, when given, is owned.
    explicit ShellDragSource(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             std::unique_ptr<DragEventSource> fallback = {},
                             QObject* parent = nullptr);
    ~ShellDragSource() override;

    // Puts the object on the bus, where the extension finds it under the application's name.
    bool start(QString* whyNot) override;
    bool isPrimaryButtonDown() override;
    quint32 currentModifiers() override;
    QPoint pointerPosition() override;
    void readDragOffer() override;
    // Asks the extension to move the pointer, which no client can do under Wayland.
    void nudgePointer() override;
    void ownDragBeginning() override;
    // Through the extension, which sees the pointer over every window and takes Escape and
    // presses from the Shell while an X11 window of ours cannot get them.
    bool locatePointer() override;
    void watchClickWheel(const QRect& frame) override;

    // The extension said it runs, and its bus connection is still there.
    bool isExtensionAttached() const { return !m_extension.isEmpty(); }

    // ModifierFlag bits of the bus's modifier bits.
    static quint32 modifierFlags(uint busModifiers);

    // What the extension calls (ShellDragBus), by the caller's bus name.
    void attach(const QString& caller);
    void detach(const QString& caller);
    void dragBegan(const QStringList& types, const QStringList& uris, QPoint position, uint modifiers);
    void dragMoved(QPoint position, uint modifiers);
    void dragEnded(QPoint position);
    void modifiersReported(uint modifiers);
    void pointerReported(QPoint position);
    void clickWheelDismissedReported(const QString& caller);
    void clickWheelKeyReported(const QString& name, const QString& caller);

Q_SIGNALS:
    // To the extension, through the bus: move the pointer by one pixel and back.
    void nudgeRequested();
    // To the extension: report the keys during a drag between X11 programs, which XWayland
    // hears none of (true), or no longer (false).
    void modifierWatchRequested(bool watch);
    // To the extension: report where the pointer is (pointerReported).
    void pointerLocationRequested();
    // To the extension: report Escape and a press outside this frame, or no longer (empty).
    void clickWheelWatchRequested(int x, int y, int width, int height);
    // The extension came or went.
    void extensionAttachedChanged(bool attached);
    // The pointer as the Shell reports it during a drag, in the desktop's pixels.
    void pointerMoved(QPoint position);

private:
    bool fallbackHeard() const { return m_fallback && !m_dragging; }
    void setExtension(const QString& busName);

    QDBusConnection m_bus;
    std::unique_ptr<DragEventSource> m_fallback;
    ShellDragBus* m_adaptor = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    bool m_registered = false;
    QString m_extension;
    bool m_dragging = false;
    bool m_watchingClickWheel = false;
    bool m_fallbackPressed = false;
    quint32 m_modifiers = 0;
    QPoint m_position;
    DragOffer m_offer;
};

} // namespace qv
