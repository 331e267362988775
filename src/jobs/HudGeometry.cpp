#include "jobs/HudGeometry.h"

#include <algorithm>

namespace qv::hud {

QRectF pillFrame(const QRectF& visibleFrame, int index, double topRoom)
{
    // In y-up terms the frame's "bottom()" is its top edge.
    const double maxX = visibleFrame.right();
    const double maxY = visibleFrame.bottom() - topRoom;
    return {maxX - pillWidth - edgeMargin, maxY - edgeMargin - pillHeight - pillStep * index,
            pillWidth, pillHeight};
}

QRectF overflowFrame(const QRectF& visibleFrame, double topRoom)
{
    const double maxX = visibleFrame.right();
    const double maxY = visibleFrame.bottom() - topRoom;
    return {maxX - pillWidth - edgeMargin,
            maxY - edgeMargin - pillHeight - pillStep * visiblePills + overflowHeight, pillWidth,
            overflowHeight};
}

int hiddenPillCount(int pillCount)
{
    return std::max(pillCount - visiblePills, 0);
}

double toastMaxWidth(const QRectF& screenFrame)
{
    return std::min(screenFrame.width() - 80, toastWidthLimit);
}

QRectF toastFrame(const ScreenInfo& screen, const QSizeF& size)
{
    return {screen.frame.center().x() - size.width() / 2, screen.visibleFrame.top() + toastLift,
            size.width(), size.height()};
}

std::optional<double> removalDelay(Job::State state, int failedCount)
{
    switch (state) {
    case Job::State::cancelled: return 1.4;
    case Job::State::failed: return 12.0;
    case Job::State::finished: return failedCount > 0 ? 8.0 : 4.0;
    case Job::State::receiving:
    case Job::State::waiting:
    case Job::State::running: return std::nullopt;
    }
    return std::nullopt;
}

} // namespace qv::hud
