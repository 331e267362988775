#pragma once

#include "platform/drags/DragEventSource.h"

namespace qv::test {

// A drag back end the test drives by hand; it records what the watcher asked of it.
class FakeDragSource : public DragEventSource {
public:
    bool startResult = true;
    QString whyNot = QStringLiteral("no display");
    int starts = 0;
    int readRequests = 0;
    int nudges = 0;
    bool primaryDown = false;
    bool dragHeld = true;
    quint32 modifiers = 0;

    bool start(QString* why) override
    {
        ++starts;
        if (!startResult)
            *why = whyNot;
        return startResult;
    }
    bool isPrimaryButtonDown() override { return primaryDown; }
    quint32 currentModifiers() override { return modifiers; }
    QPoint pointerPosition() override { return {}; }
    void readDragOffer() override { ++readRequests; }
    void nudgePointer() override { ++nudges; }
    bool catchersShown = true;
    void setCatchersShown(bool shown) override { catchersShown = shown; }
    bool isDragHeld() override { return dragHeld; }

    void press()
    {
        primaryDown = true;
        Q_EMIT primaryButtonPressed();
    }
    void release()
    {
        primaryDown = false;
        Q_EMIT primaryButtonReleased();
    }
    void takeSelection() { Q_EMIT dragSelectionChanged(); }
    void answer(const QList<QUrl>& uris)
    {
        DragOffer offer;
        offer.uris = uris;
        offer.types = {QStringLiteral("text/uri-list")};
        Q_EMIT dragOfferRead(offer);
    }
    void answer(const DragOffer& offer) { Q_EMIT dragOfferRead(offer); }
    void setModifiers(quint32 flags)
    {
        modifiers = flags;
        Q_EMIT modifiersChanged(flags);
    }
    void key(int keyCode) { Q_EMIT keyPressed(keyCode); }
    void dwell() { Q_EMIT dwellElapsed(); }
};

} // namespace qv::test
