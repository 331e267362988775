#include "editors/annotate/AnnotateModel.h"

#include <gtest/gtest.h>


using namespace qv;

namespace {

Annotation arrow(QPointF from, QPointF to)
{
    Annotation mark;
    mark.kind = Annotation::Kind::arrow;
    mark.points = {from, to};
    mark.colorHex = QStringLiteral("#FF3B30");
    mark.lineWidth = 4;
    return mark;
}

} // namespace

TEST(AnnotateModel, StartsWithTheArrowInRedAndNothingToSave)
{
    AnnotateModel model(QSizeF(1000, 1000));
    EXPECT_EQ(model.tool(), Annotation::Kind::arrow);
    EXPECT_EQ(model.colorHex(), QStringLiteral("#FF3B30"));
    EXPECT_TRUE(model.annotations().isEmpty());
    EXPECT_FALSE(model.draft());
    EXPECT_FALSE(model.textPoint());
    EXPECT_FALSE(model.canSave());
}

TEST(AnnotateModel, LineWidthAndFontSizeFollowTheLongerSideWithFloors)
{
    AnnotateModel large(QSizeF(4000, 3000));
    EXPECT_DOUBLE_EQ(large.lineWidth(), 4000.0 / 220);
    EXPECT_DOUBLE_EQ(large.fontSize(), 4000.0 / 28);
    AnnotateModel portrait(QSizeF(3000, 4000));
    EXPECT_DOUBLE_EQ(portrait.lineWidth(), 4000.0 / 220);

    AnnotateModel small(QSizeF(300, 200));
    EXPECT_DOUBLE_EQ(small.lineWidth(), 2.0);
    EXPECT_DOUBLE_EQ(small.fontSize(), 14.0);

    // A text mark carries both, in the colour chosen when it is committed.
    large.setTextPoint(QPointF(10, 20));
    large.setTextInput(QStringLiteral("  Hello \n"));
    large.setColorHex(QStringLiteral("#007AFF"));
    large.commitText();
    ASSERT_EQ(large.annotations().size(), 1);
    const Annotation& text = large.annotations().first();
    EXPECT_EQ(text.kind, Annotation::Kind::text);
    EXPECT_EQ(text.points, (QList<QPointF>{QPointF(10, 20)}));
    EXPECT_EQ(text.text, QStringLiteral("Hello"));
    EXPECT_EQ(text.colorHex, QStringLiteral("#007AFF"));
    EXPECT_DOUBLE_EQ(text.lineWidth, 4000.0 / 220);
    EXPECT_DOUBLE_EQ(*text.fontSize, 4000.0 / 28);
    EXPECT_FALSE(large.textPoint());
    EXPECT_TRUE(large.textInput().isEmpty());
}

TEST(AnnotateModel, BlankTextAddsNothingButClosesTheField)
{
    AnnotateModel model(QSizeF(800, 600));
    int marks = 0;
    QObject::connect(&model, &AnnotateModel::annotationsChanged, [&marks] { ++marks; });
    model.setTextPoint(QPointF(5, 5));
    model.setTextInput(QStringLiteral(" \n\t "));
    EXPECT_FALSE(model.canSave());
    model.commitText();
    EXPECT_TRUE(model.annotations().isEmpty());
    EXPECT_EQ(marks, 0);
    EXPECT_FALSE(model.textPoint());
    EXPECT_TRUE(model.textInput().isEmpty());

    // No point, no mark, whatever was typed.
    model.setTextInput(QStringLiteral("stray"));
    model.commitText();
    EXPECT_TRUE(model.annotations().isEmpty());
}

TEST(AnnotateModel, UndoTakesTheNewestMarkOnlyAndLeavesDraftAndTextAlone)
{
    AnnotateModel model(QSizeF(1000, 1000));
    int marks = 0;
    QObject::connect(&model, &AnnotateModel::annotationsChanged, [&marks] { ++marks; });
    model.undo();
    EXPECT_EQ(marks, 0);

    model.setAnnotations({arrow({0, 0}, {1, 1}), arrow({2, 2}, {3, 3})});
    model.setDraft(arrow({7, 7}, {8, 8}));
    model.setTextPoint(QPointF(9, 9));
    model.setTextInput(QStringLiteral("kept"));
    model.undo();
    EXPECT_EQ(model.annotations(), (QList<Annotation>{arrow({0, 0}, {1, 1})}));
    EXPECT_EQ(model.draft(), arrow({7, 7}, {8, 8}));
    EXPECT_EQ(model.textInput(), QStringLiteral("kept"));
    EXPECT_EQ(model.textPoint(), QPointF(9, 9));
}

TEST(AnnotateModel, SaveCopyIsEnabledByMarksOrByTextThatShows)
{
    AnnotateModel model(QSizeF(1000, 1000));
    model.setTextPoint(QPointF(100, 100));
    EXPECT_FALSE(model.canSave());
    model.setTextInput(QStringLiteral("Hello"));
    EXPECT_TRUE(model.canSave());
    model.setTextInput(QStringLiteral("   "));
    EXPECT_FALSE(model.canSave());
    model.setTextPoint(std::nullopt);
    model.setAnnotations({arrow({0, 0}, {1, 1})});
    EXPECT_TRUE(model.canSave());
}

TEST(AnnotateModel, SaveCopyCommitsThePendingTextAndLeavesTheDraftOut)
{
    AnnotateModel model(QSizeF(1000, 1000));
    model.setAnnotations({arrow({200, 200}, {800, 800})});
    model.setDraft(arrow({1, 1}, {2, 2}));
    model.setTextPoint(QPointF(100, 100));
    model.setTextInput(QStringLiteral("Hello"));

    const OperationOptions options = model.saveCopyOptions();
    ASSERT_TRUE(options.annotations);
    ASSERT_EQ(options.annotations->size(), 2);
    EXPECT_EQ(options.annotations->at(0), arrow({200, 200}, {800, 800}));
    const Annotation& text = options.annotations->at(1);
    EXPECT_EQ(text.kind, Annotation::Kind::text);
    EXPECT_EQ(text.text, QStringLiteral("Hello"));
    EXPECT_EQ(text.points, (QList<QPointF>{QPointF(100, 100)}));
    EXPECT_NEAR(*text.fontSize, 35.714, 0.001);

    // Nothing but the marks is asked of the job.
    OperationOptions onlyMarks;
    onlyMarks.annotations = options.annotations;
    EXPECT_EQ(options, onlyMarks);
}
