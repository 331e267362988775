#include "platform/sandbox/FrameRing.h"

#include <cmath>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

// Large enough for a picture wider than any screen, small enough that a lying peer cannot
// make us map the world.
constexpr qint64 slotLimit = qint64(8192) * 8192 * FrameRing::bytesPerPixel;
constexpr int slotCountLimit = 8;

uchar* mapShared(int fd, qint64 bytes)
{
    void* memory = ::mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<uchar*>(memory);
}

} // namespace

FrameRing::FrameRing(int fd, uchar* memory, int slots, qint64 slotBytes)
    : m_fd(fd), m_memory(memory), m_slots(slots), m_slotBytes(slotBytes)
{
}

std::optional<FrameRing> FrameRing::create(int slots, qint64 slotBytes)
{
    if (slots <= 0 || slots > slotCountLimit || slotBytes <= 0 || slotBytes > slotLimit)
        return std::nullopt;
    const int fd = ::memfd_create("quorvenda-frames", MFD_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // Pages are only taken when a picture is written into them.
    uchar* memory = ::ftruncate(fd, off_t(slots * slotBytes)) == 0 ? mapShared(fd, slots * slotBytes) : nullptr;
    if (!memory) {
        ::close(fd);
        return std::nullopt;
    }
    return FrameRing(fd, memory, slots, slotBytes);
}

std::optional<FrameRing> FrameRing::attach(int fd, int slots, qint64 slotBytes)
{
    struct stat status {};
    uchar* memory = nullptr;
    if (fd >= 0 && slots > 0 && slots <= slotCountLimit && slotBytes > 0 && slotBytes <= slotLimit
        && ::fstat(fd, &status) == 0 && status.st_size >= slots * slotBytes)
        memory = mapShared(fd, slots * slotBytes);
    if (!memory) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    return FrameRing(fd, memory, slots, slotBytes);
}

FrameRing::FrameRing(FrameRing&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_memory(std::exchange(other.m_memory, nullptr)),
      m_slots(std::exchange(other.m_slots, 0)), m_slotBytes(std::exchange(other.m_slotBytes, 0))
{
}

FrameRing& FrameRing::operator=(FrameRing&& other) noexcept
{
    if (this != &other) {
        this->~FrameRing();
        new (this) FrameRing(std::move(other));
    }
    return *this;
}

FrameRing::~FrameRing()
{
    if (m_memory)
        ::munmap(m_memory, size_t(m_slots * m_slotBytes));
    if (m_fd >= 0)
        ::close(m_fd);
}

QSize FrameRing::fitted(QSize size) const
{
    if (size.isEmpty())
        return {};
    const qint64 bytes = qint64(size.width()) * size.height() * bytesPerPixel;
    if (bytes <= m_slotBytes)
        return size;
    const double scale = std::sqrt(double(m_slotBytes) / double(bytes));
    return QSize(std::max(1, int(size.width() * scale)), std::max(1, int(size.height() * scale)));
}

QImage FrameRing::canvas(int slot, QSize size)
{
    if (slot < 0 || slot >= m_slots || size.isEmpty()
        || qint64(size.width()) * size.height() * bytesPerPixel > m_slotBytes)
        return {};
    return QImage(m_memory + slot * m_slotBytes, size.width(), size.height(), size.width() * bytesPerPixel,
                  QImage::Format_RGB32);
}

QImage FrameRing::copy(int slot, QSize size, qint64 stride) const
{
    if (slot < 0 || slot >= m_slots || size.isEmpty() || stride < qint64(size.width()) * bytesPerPixel
        || stride * size.height() > m_slotBytes || stride > std::numeric_limits<int>::max())
        return {};
    const QImage view(m_memory + slot * m_slotBytes, size.width(), size.height(), qsizetype(stride),
                      QImage::Format_RGB32);
    return view.copy();
}

} // namespace qv
