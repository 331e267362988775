#pragma once

#include "model/EnumText.h"

namespace qv {

// How merged images are laid out: side by side or stacked.
enum class MergeLayout { horizontal, vertical };

template <>
struct EnumText<MergeLayout> {
    static constexpr std::array names{"horizontal", "vertical"};
};

} // namespace qv
