#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

#include <cstdint>
#include <memory>

namespace qv {

// An X connection of its own on which XFixes tells who takes one selection, as set on a
// screen's root window.
class SelectionOwnerWatch : public QObject {
    Q_OBJECT
public:
    explicit SelectionOwnerWatch(QObject* parent = nullptr);
    ~SelectionOwnerWatch() override;

    // No display name: $DISPLAY; screen -1: the display's default screen. False when there is
    // no such display or screen.
    bool open(const QByteArray& displayName, int screen = -1);
    int screen() const { return m_screen; }
    // False when the atom cannot be had.
    bool setSelection(const QByteArray& name);
    // eventMask: XFixes selection event mask bits. False without XFixes or when the server did
    // not take the request; then nothing is told.
    bool listen(uint32_t eventMask);
    // A round trip: whether someone holds the selection now.
    bool isOwned();
    // What already arrived: the notifier only tells of bytes still on the socket, and round
    // trips queue events.
    void readEvents();

Q_SIGNALS:
    // Whether the selection had an owner after each change told, oldest first.
    void ownerChanges(const QList<bool>& owned);
    // The display went away: nothing is told from now on.
    void lost();

private:
    struct Connection;
    std::unique_ptr<Connection> d;
    int m_screen = -1;
};

} // namespace qv
