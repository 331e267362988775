#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace qv::test {

// Fakes the user's pointer and keys through XTest, on a connection of its own. Each call
// returns once the server has taken the event.
class X11InputDriver {
public:
    X11InputDriver();
    ~X11InputDriver();
    bool isOpen() const { return m_display != nullptr; }

    void moveTo(int x, int y);
    void button(bool down);
    // Button down on the point, then moves well past the drag threshold.
    void pressAndDrag(int x, int y);
    // A failed test must not leave the button or a modifier down for the next one.
    void releaseAll();
    // keysymName as XStringToKeysym spells it ("Shift_L", "Super_L").
    void key(const char* keysymName, bool down);
    void tap(const char* keysymName);

private:
    void sync();
    void* m_display = nullptr;
};

// A drag source of the tests' own: from a thread of its own it owns XdndSelection and answers
// requests for "TARGETS", and for "text/uri-list" with the given body, in INCR parts of incrChunk
// bytes when the body is larger. Like a Qt source it refuses requests made at CurrentTime.
class FakeXdndOwner {
public:
    explicit FakeXdndOwner(QByteArray uriList, int incrChunk = 0);
    ~FakeXdndOwner();
    bool isOpen() const { return m_ready; }

    // From the next request on, INCR parts never end: the body again and again, each part
    // pauseMs after the requestor took the last, for as long as it takes them.
    void sendPartsForever(int pauseMs = 0);
    // The list bytes written to requestors so far.
    qint64 bytesSent() const { return m_sent; }

    // Takes the selection (again) and waits until it has; gives the monotonic time in
    // nanoseconds just before the owner was set.
    qint64 takeSelection();
    int answered() const { return m_answered; }
    int refused() const { return m_refused; }

private:
    void run();

    QByteArray m_body;
    int m_incrChunk;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_takeRequests{0};
    std::atomic<int> m_takes{0};
    std::atomic<qint64> m_takenAt{0};
    std::atomic<int> m_answered{0};
    std::atomic<int> m_refused{0};
    std::atomic<bool> m_forever{false};
    std::atomic<int> m_pauseMs{0};
    std::atomic<qint64> m_sent{0};
    std::thread m_thread;
};

qint64 monotonicNanoseconds();

} // namespace qv::test
