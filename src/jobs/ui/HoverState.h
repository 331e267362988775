#pragma once

#include <functional>

namespace qv {

// Whether the pointer rests on a pill. The pill's view sets it and then calls onChange; setting
// it alone calls nothing.
class HoverState {
public:
    bool isHovering = false;
    std::function<void(bool)> onChange;
};

} // namespace qv
