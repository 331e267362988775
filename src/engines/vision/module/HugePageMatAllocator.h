#pragma once

#include <opencv2/core/mat.hpp>

namespace qv {

// Gives OpenCV's large buffers (the subject network's weights and layers, hundreds of MB) pages
// of 2 MB where the kernel has them: each 4 KB page touched for the first time costs a fault,
// and a network's first run touches a gigabyte. Smaller buffers, and those a caller owns, are
// left to OpenCV's own allocator.
class HugePageMatAllocator : public cv::MatAllocator {
public:
    // Makes it OpenCV's default for this process, once; buffers made before stay as they were.
    static void install();

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                           cv::UMatUsageFlags usage) const override;
    bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override;
    void deallocate(cv::UMatData* data) const override;
};

} // namespace qv
