#pragma once

#include "platform/desktop/WindowHints.h"

namespace qv {

// Window hints as EWMH properties, sent on Qt's own X11 connection.
class X11WindowHints : public WindowHints {
public:
    void keepOnAllDesktops(WId window) override;
};

} // namespace qv
