#include "platform/processes/LastRelease.h"

#include <gtest/gtest.h>

#include <memory>

using namespace qv;

// A merge opens one document after another in the same item: only the last may stay.
TEST(LastRelease, AProcessEndingWithItsItemKeepsTheLastStructureAloneAndOthersFreeAtOnce)
{
    auto first = std::make_shared<int>(1);
    const std::weak_ptr<int> firstSeen = first;
    LastRelease::hand(std::move(first));
    EXPECT_TRUE(firstSeen.expired());

    LastRelease::endWithItem();
    std::weak_ptr<int> seen[3];
    for (int i = 0; i < 3; ++i) {
        auto structure = std::make_shared<int>(i);
        seen[i] = structure;
        LastRelease::hand(std::move(structure));
    }
    EXPECT_TRUE(seen[0].expired());
    EXPECT_TRUE(seen[1].expired());
    EXPECT_FALSE(seen[2].expired());
}
