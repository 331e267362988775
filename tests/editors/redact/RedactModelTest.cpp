#include "editors/redact/RedactModel.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(RedactModel, BoxesUnderThreePointsAreDiscardedAndUndoTakesTheNewestFirst)
{
    RedactModel model;
    EXPECT_EQ(RedactModel::actionTitle(model.count()), "Redact");
    EXPECT_FALSE(model.add({0, QRectF(10, 10, 2, 50)}));
    EXPECT_FALSE(model.add({0, QRectF(10, 10, 50, 0)}));
    EXPECT_TRUE(model.add({0, QRectF(72, 690, 110, 30)}));
    EXPECT_EQ(RedactModel::actionTitle(model.count()), "Redact 1 Area");
    EXPECT_TRUE(model.add({2, QRectF(0, 0, 3, 3)}));
    EXPECT_TRUE(model.add({0, QRectF(5, 5, 10, 10)}));
    EXPECT_EQ(RedactModel::actionTitle(model.count()), "Redact 3 Areas");

    const QMap<int, QList<QRectF>> boxes = model.redactions();
    EXPECT_EQ(boxes.keys(), (QList<int>{0, 2}));
    EXPECT_EQ(boxes[0], (QList<QRectF>{QRectF(72, 690, 110, 30), QRectF(5, 5, 10, 10)}));

    model.undo();
    model.undo();
    EXPECT_EQ(model.redactions().keys(), (QList<int>{0}));
    model.undo();
    model.undo(); // nothing left: nothing happens
    EXPECT_EQ(model.count(), 0);
    EXPECT_TRUE(model.redactions().isEmpty());
}
