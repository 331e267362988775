#pragma once

#include <functional>

namespace qv {

// What the media editor's view asks of its controller; each does nothing once the controller
// is gone.
struct MediaEditorActions {
    std::function<void()> togglePlay;
    std::function<void(double seconds)> seek;
    std::function<void()> apply;
};

} // namespace qv
