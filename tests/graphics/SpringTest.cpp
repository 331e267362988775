#include "graphics/Spring.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace qv;

TEST(Spring, StartsAtZeroSettlesAtOneAndBarelyOvershoots)
{
    const Spring spring = Spring::withResponse(0.3, 0.85);
    EXPECT_DOUBLE_EQ(spring.valueAt(0), 0);
    EXPECT_DOUBLE_EQ(spring.valueAt(-1), 0);
    EXPECT_GT(spring.valueAt(0.05), 0);
    EXPECT_LT(spring.valueAt(0.05), 0.5);

    double peak = 0;
    for (int ms = 0; ms <= 1000; ++ms)
        peak = std::max(peak, spring.valueAt(ms / 1000.0));
    EXPECT_GT(peak, 1.0);   // an underdamped spring passes its target...
    EXPECT_LT(peak, 1.015); // ...but only slightly at this damping
    EXPECT_NEAR(spring.valueAt(1.0), 1, 1e-3);

    const double settle = spring.settlingDuration();
    EXPECT_GT(settle, 0.2);
    EXPECT_LT(settle, 1.0);
    for (int ms = int(settle * 1000); ms <= 1500; ms += 10)
        EXPECT_NEAR(spring.valueAt(ms / 1000.0), 1, 3e-3) << ms;

    // Full damping never passes the target; a shorter response gets there sooner.
    const Spring stiff = Spring::withResponse(0.3, 1.0);
    for (int ms = 0; ms <= 1000; ms += 5)
        EXPECT_LE(stiff.valueAt(ms / 1000.0), 1.0 + 1e-9);
    const Spring quick = Spring::withResponse(0.15, 0.85);
    EXPECT_GT(quick.valueAt(0.05), spring.valueAt(0.05));
}

TEST(Spring, MovesAnyDistanceAndHeavierDampingIsSlower)
{
    // A value pulled down from 2 to -1, before the start, at it and once settled.
    const Spring down{2, -1, 1, 700, 32};
    EXPECT_EQ(down.valueAt(-0.5), 2);
    EXPECT_NEAR(down.valueAt(0), 2, 1e-12);
    const double settle = down.settlingDuration();
    for (int ms = int(settle * 1000); ms <= 1500; ms += 10)
        EXPECT_NEAR(down.valueAt(ms / 1000.0), -1, 3 * 3e-3) << ms;

    // The same stiffness critically damped and overdamped: neither passes the target, and the
    // overdamped one lags behind all the way.
    const Spring critical{0, 1, 1, 400, 40};
    const Spring heavy{0, 1, 1, 400, 120};
    for (int ms = 5; ms <= 2000; ms += 5) {
        const double t = ms / 1000.0;
        EXPECT_LE(critical.valueAt(t), 1.0 + 1e-9) << ms;
        EXPECT_LE(heavy.valueAt(t), 1.0 + 1e-9) << ms;
        EXPECT_LT(heavy.valueAt(t), critical.valueAt(t)) << ms;
    }
    EXPECT_NEAR(heavy.valueAt(0), 0, 1e-12);
    EXPECT_GT(heavy.settlingDuration(), critical.settlingDuration());
    const double heavySettle = heavy.settlingDuration();
    EXPECT_NEAR(heavy.valueAt(heavySettle), 1, 3e-3);
    EXPECT_LT(heavy.valueAt(heavySettle / 2), 1 - 1e-2); // still well on the way halfway there
}
