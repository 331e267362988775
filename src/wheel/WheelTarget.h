#pragma once

#include "model/EnumText.h"

namespace qv {

// What the wheel highlights: a main-ring segment, a More-ring item, or nothing.
struct WheelTarget {
    enum class Ring { none, inner, outer };

    Ring ring = Ring::none;
    int index = -1;

    static WheelTarget none() { return {}; }
    static WheelTarget inner(int index) { return {Ring::inner, index}; }
    static WheelTarget outer(int index) { return {Ring::outer, index}; }

    bool isNone() const { return ring == Ring::none; }
    bool operator==(const WheelTarget&) const = default;
};

template <>
struct EnumText<WheelTarget::Ring> {
    static constexpr std::array names{"none", "inner", "outer"};
};

} // namespace qv
