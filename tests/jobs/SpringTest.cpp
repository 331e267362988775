#include "jobs/Spring.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace qv;

TEST(Spring, StartsAtZeroSettlesAtOneAndBarelyOvershoots)
{
    const Spring spring{0.3, 0.85};
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
    const Spring stiff{0.3, 1.0};
    for (int ms = 0; ms <= 1000; ms += 5)
        EXPECT_LE(stiff.valueAt(ms / 1000.0), 1.0 + 1e-9);
    const Spring quick{0.15, 0.85};
    EXPECT_GT(quick.valueAt(0.05), spring.valueAt(0.05));
}
