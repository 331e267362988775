#pragma once

#include <QImage>
#include <QSize>

#include <optional>

namespace qv {

// Pictures handed from a player process to the application: a few slots of shared memory in
// one memfd that the application makes and the player inherits. A slot belongs to the player
// until it names it in a frame message, then to the application until it frees it, so neither
// side ever reads a picture half written.
class FrameRing {
public:
    static constexpr int bytesPerPixel = 4;

    // A new ring of slots, each large enough for a picture of slotBytes. Nothing when the
    // memory cannot be had.
    static std::optional<FrameRing> create(int slots, qint64 slotBytes);
    // The ring behind an inherited descriptor, which it then owns; nothing when it is not as
    // large as claimed.
    static std::optional<FrameRing> attach(int fd, int slots, qint64 slotBytes);

    FrameRing(FrameRing&& other) noexcept;
    FrameRing& operator=(FrameRing&& other) noexcept;
    FrameRing(const FrameRing&) = delete;
    FrameRing& operator=(const FrameRing&) = delete;
    ~FrameRing();

    int fd() const { return m_fd; }
    int slots() const { return m_slots; }
    qint64 slotBytes() const { return m_slotBytes; }

    // The largest size of the given shape a slot holds, the shape kept; never larger than it.
    QSize fitted(QSize size) const;
    // A picture over the slot's memory (RGB32, no line padding), for writing into; null for a
    // slot or size the ring cannot hold.
    QImage canvas(int slot, QSize size);
    // A copy of the picture in the slot; null when the claimed geometry does not fit the slot.
    QImage copy(int slot, QSize size, qint64 stride) const;

private:
    FrameRing(int fd, uchar* memory, int slots, qint64 slotBytes);

    int m_fd = -1;
    uchar* m_memory = nullptr;
    int m_slots = 0;
    qint64 m_slotBytes = 0;
};

} // namespace qv
