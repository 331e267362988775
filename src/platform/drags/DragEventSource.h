#pragma once

#include "platform/drags/DragOffer.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QUrl>

namespace qv {

// What the drag watcher needs of the desktop: the primary button, the modifier keys, the drag
// selection and what its owner offers. Everything happens on the main thread; tests drive a fake.
//
// Each kind of desktop session has its own source, chosen by makeDesktopDragSource()
// (DesktopDragSource.cpp): X11DragSource watches the whole X11 screen; LayerShellDragSource
// sees drags only over a strip of its own on a screen edge (KWin, wlroots). A new desktop plugs
// in by deriving from this class and adding a case there. A source that sees a drag only once
// it reaches a surface of its own plays the same script: primaryButtonPressed and
// dragSelectionChanged when the drag arrives, dragOfferRead with what it carries when asked,
// modifiersChanged and keyPressed where the desktop lets keys through, dwellElapsed where it
// does not, and primaryButtonReleased once the drag is dropped or gone for good.
class DragEventSource : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~DragEventSource() override = default;

    // Begins listening; false with a one-sentence reason when the desktop offers no way to.
    virtual bool start(QString* whyNot) = 0;

    virtual bool isPrimaryButtonDown() = 0;
    // The modifier keys held now, as ModifierFlag bits.
    virtual quint32 currentModifiers() = 0;
    // In the desktop's own pixel coordinates (top-left origin).
    virtual QPoint pointerPosition() = 0;

    // Asks the owner of the drag selection what it offers; dragOfferRead answers, with an
    // empty offer when the owner does not answer.
    virtual void readDragOffer() = 0;

    // Moves the pointer by one pixel and back a moment later, so that a window that just
    // appeared under a still pointer becomes the drop target.
    virtual void nudgePointer() = 0;

    // Shows or hides the back end's own windows that catch drags (a strip on a screen edge),
    // for while another back end reports those drags already; back ends without any ignore it.
    virtual void setCatchersShown(bool shown) { (void)shown; }

    // One of our windows is about to start a drag while the primary button is down: a back end
    // that listens to the keys only once another program's drag takes the drag selection
    // listens now, so that a tap made as the drag begins is not lost.
    virtual void ownDragBeginning() {}

    // Whether the source of the drag under way still holds it: after Escape a source gives its
    // drag up while the button stays down. A back end that cannot tell says it does; that drag
    // then ends with the button.
    virtual bool isDragHeld() { return true; }

    // Asks the desktop where the pointer is, for a back end that knows it better than the
    // display server does (XWayland knows it only over X11 windows): true when pointerLocated
    // will answer.
    virtual bool locatePointer() { return false; }
    // Asks the desktop to report Escape, the wheel's other keys and a press outside this frame (Qt's pixels) while a
    // click-mode wheel shows there, where the display server cannot (clickWheelDismissed); an
    // empty frame stops it. Back ends whose wheel sees these itself ignore it.
    virtual void watchClickWheel(const QRect& frame) { (void)frame; }

Q_SIGNALS:
    void primaryButtonPressed();
    void primaryButtonReleased();
    // Another application took the drag selection: a drag of something has begun.
    void dragSelectionChanged();
    void dragOfferRead(const qv::DragOffer& offer);
    // The held modifier keys after a key went down or up (ModifierFlag bits).
    void modifiersChanged(quint32 modifiers);
    // A key went down, in the stored key-code form (Tab 48, Return 36, Enter 76, arrows 123 to
    // 126, Escape 53); keys outside that table are not reported.
    void keyPressed(int keyCode);
    // The drag rested on a surface of the source's own for the dwell time: where the desktop
    // hides the keys during a drag, this stands in for a tap of the first wheel's trigger.
    void dwellElapsed();
    // Where the pointer is, in Qt's pixels, after locatePointer.
    void pointerLocated(QPoint position);
    // Escape, or a press outside the frame watchClickWheel named.
    void clickWheelDismissed();
    // A key the wheel takes (a Qt::Key: Return, Enter, the arrows, Tab and Backtab, and the
    // modifier keys, whose press alone is told), pressed while watchClickWheel watched.
    void clickWheelKeyPressed(int key);
};

} // namespace qv
