#include "editors/pages/PagesModel.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

QList<int> order(const PagesModel& model)
{
    QList<int> indices;
    for (const PagesModel::Page& page : model.pages())
        indices.append(page.index);
    return indices;
}

void drag(PagesModel& model, int from, QList<int> over)
{
    model.beginDrag(from);
    for (int target : over)
        model.dragEntered(target);
    model.endDrag();
}

} // namespace

TEST(PagesModel, ADraggedPageTakesThePlaceOfEachPageItPasses)
{
    PagesModel model(4, false);
    EXPECT_FALSE(model.isReordered());
    drag(model, 0, {1, 2, 0}); // over page 2, then 3, then itself
    EXPECT_EQ(order(model), (QList<int>{1, 2, 0, 3}));
    EXPECT_EQ(model.pageOrder(), (QList<int>{1, 2, 0, 3}));
    EXPECT_TRUE(model.isReordered());

    PagesModel back(4, false);
    drag(back, 2, {0});
    EXPECT_EQ(back.pageOrder(), (QList<int>{2, 0, 1, 3}));
    back.restoreOrder();
    EXPECT_FALSE(back.isReordered());
    back.reverse();
    EXPECT_EQ(back.pageOrder(), (QList<int>{3, 2, 1, 0}));
}

TEST(PagesModel, AnyEndOfADragClearsTheDimmedPage)
{
    PagesModel model(3, false);
    model.beginDrag(1);
    EXPECT_EQ(model.dragging(), 1);
    model.endDrag(); // ended outside every cell
    EXPECT_FALSE(model.dragging());
}

TEST(PagesModel, ExtractModePicksPagesAndIgnoresDrags)
{
    PagesModel model(6, true);
    drag(model, 0, {2});
    EXPECT_FALSE(model.isReordered());
    model.setRangeText(QStringLiteral("5-3, 1"));
    model.selectFromRangeText();
    EXPECT_EQ(model.selectedCount(), 4);
    EXPECT_EQ(model.pageOrder(), (QList<int>{0, 2, 3, 4}));
    model.setRangeText(QStringLiteral("2-"));
    model.selectFromRangeText();
    EXPECT_EQ(model.pageOrder(), (QList<int>{1, 2, 3, 4, 5}));
    model.setRangeText(QStringLiteral("nonsense"));
    model.selectFromRangeText();
    EXPECT_EQ(model.selectedCount(), 0);

    model.toggleSelection(3);
    model.toggleSelection(1);
    EXPECT_EQ(model.pageOrder(), (QList<int>{1, 3}));
    model.setAllSelected(true);
    model.setAllSelected(false);
    EXPECT_EQ(model.selectedCount(), 0);

    PagesModel reorder(3, false);
    reorder.toggleSelection(1);
    EXPECT_EQ(reorder.selectedCount(), 0);
}
