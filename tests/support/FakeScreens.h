#pragma once

#include "platform/desktop/ScreenProvider.h"

namespace qv::test {

// Screens given by the test, in y-up coordinates; the first is primary unless `main` says else.
class FakeScreens : public ScreenProvider {
public:
    QList<ScreenInfo> list;
    int main = 0;
    QPointF pointer;

    QList<ScreenInfo> screens() const override { return list; }
    std::optional<ScreenInfo> mainScreen() const override
    {
        if (main < 0 || main >= list.size())
            return std::nullopt;
        return list[main];
    }
    QPointF pointerLocation() const override { return pointer; }
    double primaryHeight() const override { return list.isEmpty() ? 0 : list.first().frame.height(); }
};

} // namespace qv::test
