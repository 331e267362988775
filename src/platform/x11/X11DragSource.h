#pragma once

#include "platform/drags/DragEventSource.h"

#include <memory>

namespace qv {

// The drag back end of an X11 session, on a connection of its own: XFixes tells when another
// client takes XdndSelection (a drag began), XConvertSelection reads what it offers ("TARGETS",
// the types its XdndEnter told a drop target, which the RECORD extension shows, or the
// "XdndTypeList" on its window, then "text/uri-list", and "text/x-moz-url" for data without
// files), and XInput 2.2 raw events on the root window report the primary button, and the keys
// while a drag runs, even while the drag source holds its grabs.
class X11DragSource : public DragEventSource {
    Q_OBJECT

public:
    explicit X11DragSource(QObject* parent = nullptr);
    ~X11DragSource() override;

    bool start(QString* whyNot) override;
    bool isPrimaryButtonDown() override;
    quint32 currentModifiers() override;
    QPoint pointerPosition() override;
    void readDragOffer() override;
    void nudgePointer() override;
    void ownDragBeginning() override;
    // A drag source holds the pointer grabbed for as long as its drag runs.
    bool isDragHeld() override;

    // What an owner has not sent by then, in however many parts, is taken as not offered.
    static constexpr int readDeadlineMs = 5000;
    // Nor is a longer list kept: the owner cannot make us hold more than this.
    static constexpr qsizetype maxListBytes = 32 * 1024 * 1024;

    // For tests, which cannot wait the real deadline out.
    void setReadDeadline(int ms);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Parses a "text/uri-list" body: one URI per line, "#" lines are comments.
QList<QUrl> parseUriList(const QByteArray& body);

} // namespace qv
