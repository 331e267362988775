#pragma once

#include "jobs/Job.h"
#include "platform/desktop/ScreenProvider.h"

#include <QRectF>
#include <QSizeF>

#include <optional>

namespace qv::hud {

// Where pills and toasts stand. Every rectangle here is in y-up global coordinates; the
// windows convert once with flipY.
inline constexpr double pillWidth = 344;
inline constexpr double pillHeight = 56;
inline constexpr double edgeMargin = 14;
inline constexpr double pillStep = 64;
inline constexpr int visiblePills = 4;
inline constexpr double overflowHeight = 28;
inline constexpr double toastWidthLimit = 520;
inline constexpr double toastLift = 72;

// While a desktop notification of ours may be on screen, the pills start this much lower: the
// notification servers of the usual desktops put their bubbles in the same top-right corner.
inline constexpr double notificationRoom = 128;
// How long that room is kept after a notification was posted, in seconds: what servers show a
// notification for by default.
inline constexpr double notificationSeconds = 10;

// The pill at this index of the stack, counted from the top (0 to 3), the stack starting
// topRoom below the top of the visible frame.
QRectF pillFrame(const QRectF& visibleFrame, int index, double topRoom = 0);
// The narrow pill that counts the pills beyond the fourth; its top lies 8 below the fourth.
QRectF overflowFrame(const QRectF& visibleFrame, double topRoom = 0);
// Pills beyond the fourth, counted in the overflow pill.
int hiddenPillCount(int pillCount);

// The widest a toast may grow on a screen of this full frame.
double toastMaxWidth(const QRectF& screenFrame);
// Centred on the full frame, 72 above the bottom of the visible frame.
QRectF toastFrame(const ScreenInfo& screen, const QSizeF& size);

// How long a pill stays after its job ended; nothing while the job is still active.
std::optional<double> removalDelay(Job::State state, int failedCount);
// A hover that leaves a pill of an ended job re-arms its removal with this delay.
inline constexpr double hoverRemovalDelay = 2.5;

} // namespace qv::hud
