#include "engines/vision/module/HugePageMatAllocator.h"

#include <sys/mman.h>

#include <cstdint>
#include <mutex>

namespace qv {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
// Below this a buffer would waste much of its last huge page.
constexpr size_t kSmallest = size_t(8) << 20;

size_t roundedUp(size_t bytes, size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

struct Mapping {
    void* start;
    size_t length;
};

} // namespace

void HugePageMatAllocator::install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static HugePageMatAllocator allocator;
        cv::Mat::setDefaultAllocator(&allocator);
    });
}

cv::UMatData* HugePageMatAllocator::allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                                             cv::AccessFlag flags, cv::UMatUsageFlags usage) const
{
    const cv::MatAllocator* const standard = cv::Mat::getStdAllocator();
    if (data)
        return standard->allocate(dims, sizes, type, data, step, flags, usage);
    size_t total = CV_ELEM_SIZE(type);
    for (int i = dims - 1; i >= 0; --i) {
        if (step)
            step[i] = total;
        total *= size_t(sizes[i]);
    }
    if (total < kSmallest)
        return standard->allocate(dims, sizes, type, data, step, flags, usage);
    // One huge page more than needed, so that the buffer can start on a huge page's edge.
    const size_t mapped = roundedUp(total, kHugePage) + kHugePage;
    void* const region = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED)
        return standard->allocate(dims, sizes, type, data, step, flags, usage);
    auto* const start = reinterpret_cast<uchar*>(roundedUp(reinterpret_cast<uintptr_t>(region), kHugePage));
    // Only advice: where the kernel gives no huge pages, small ones serve as before.
    ::madvise(start, roundedUp(total, kHugePage), MADV_HUGEPAGE);
    auto* const made = new cv::UMatData(this);
    made->data = made->origdata = start;
    made->size = total;
    made->userdata = new Mapping{region, mapped};
    return made;
}

bool HugePageMatAllocator::allocate(cv::UMatData* data, cv::AccessFlag, cv::UMatUsageFlags) const
{
    return data != nullptr;
}

void HugePageMatAllocator::deallocate(cv::UMatData* data) const
{
    if (!data)
        return;
    if (data->currAllocator != this) {
        data->currAllocator->deallocate(data);
        return;
    }
    const auto* const mapping = static_cast<Mapping*>(data->userdata);
    ::munmap(mapping->start, mapping->length);
    delete mapping;
    data->userdata = nullptr;
    delete data;
}

} // namespace qv
