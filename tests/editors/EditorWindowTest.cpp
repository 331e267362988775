#include "platform/ui/EditorButtons.h"
#include "editors/EditorLauncher.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"
#include "support/FakeScreens.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using namespace qv;

namespace {

// Two screens side by side, y up: a 1920 x 1080 primary with a 30-point panel at the bottom,
// and a 1280 x 1024 one on its right with a 40-point panel at the top.
test::FakeScreens twoScreens()
{
    test::FakeScreens screens;
    screens.list = {{QRectF(0, 0, 1920, 1080), QRectF(0, 30, 1920, 1050)},
                    {QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 984)}};
    return screens;
}

void pressKey(QWidget* widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
}

} // namespace

TEST(WindowPlacement, HangsBelowThePointTwelvePointsInsideItsScreen)
{
    const test::FakeScreens screens = twoScreens();
    const QSizeF size(400, 300);
    // Room enough: centred, 24 points below the point.
    EXPECT_EQ(placedOrigin(QPointF(960, 700), size, screens), QPointF(760, 376));
    // Near the second screen's right and bottom edges: pulled inside its visible frame.
    EXPECT_EQ(placedOrigin(QPointF(3190, 100), size, screens), QPointF(3200 - 400 - 12, 12));
    // Near the first screen's left edge and below its panel.
    EXPECT_EQ(placedOrigin(QPointF(5, 200), size, screens), QPointF(12, 30 + 12));
    // Near the second screen's top, under its panel.
    EXPECT_EQ(placedOrigin(QPointF(2500, 1020), size, screens), QPointF(2300, 984 - 300 - 12));
    // Between the screens (above the shorter one): the main screen takes it.
    EXPECT_EQ(placedOrigin(QPointF(2500, 1050), size, screens), QPointF(1920 - 400 - 12, 1050 - 300 - 24));
    // Wider than the frame: the right edge stays 12 points inside.
    EXPECT_EQ(placedOrigin(QPointF(2500, 500), QSizeF(1400, 300), screens)->x(), 3200 - 1400 - 12);
    EXPECT_FALSE(placedOrigin(QPointF(0, 0), size, test::FakeScreens{}));

    // The widget lands at the same place in Qt's y-down coordinates.
    QWidget window;
    window.resize(400, 300);
    placeWindow(QPointF(3190, 100), &window, screens);
    EXPECT_EQ(window.pos(), QPoint(2788, 1080 - 12 - 300));
}

TEST(EditorWindow, ClosingUnfinishedCancelsAndLeavesTheList)
{
    const test::FakeScreens screens = twoScreens();
    int cancels = 0;
    auto* label = new QLabel(QStringLiteral("x"));
    label->setFixedSize(200, 80);
    QPointer<EditorWindow> window =
        presentInEditorWindow(QStringLiteral("Crop"), false, [&] { ++cancels; }, label,
                              QPointF(960, 700), screens);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(320, 120));
    EXPECT_TRUE(openEditorWindows().contains(window.data()));
    EXPECT_TRUE(window->windowFlags() & Qt::Tool);
    pressKey(window, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(openEditorWindows().contains(window.data()));

    QPointer<EditorWindow> finished = presentInEditorWindow(
        QStringLiteral("Trim"), true, [&] { ++cancels; }, new QLabel, QPointF(10, 10), screens);
    finishEditor(finished);
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(openEditorWindows().contains(finished.data()));
    finishEditor(QPointer<EditorWindow>()); // gone: nothing happens
}

TEST(EditorButtons, NeitherButtonTakesTheFocusSoSpaceNeverCancels)
{
    QWidget window;
    int cancels = 0;
    int applies = 0;
    auto* field = new QLineEdit(&window);
    auto* buttons = new EditorButtons(QStringLiteral("Save Copy"), [&] { ++cancels; }, [&] { ++applies; }, &window);
    buttons->move(0, 40);
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    // Tab goes round the field alone; Space then types into it.
    for (int step = 0; step < 3; ++step) {
        pressKey(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_FALSE(buttons->cancelButton()->hasFocus());
        EXPECT_FALSE(buttons->actionButton()->hasFocus());
    }
    pressKey(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Space);
    EXPECT_EQ(cancels, 0);
    EXPECT_EQ(applies, 0);
}

TEST(EditorButtons, CancelAlwaysWorksAndTheActionOnlyWhenEnabled)
{
    QWidget window;
    int cancels = 0;
    int applies = 0;
    auto* buttons = new EditorButtons(QStringLiteral("Crop"), [&] { ++cancels; }, [&] { ++applies; }, &window);
    EXPECT_EQ(buttons->actionButton()->text(), QStringLiteral("Crop"));
    EXPECT_EQ(buttons->cancelButton()->text(), QStringLiteral("Cancel"));
    buttons->setActionEnabled(false);
    buttons->actionButton()->click();
    buttons->cancelButton()->click();
    EXPECT_EQ(applies, 0);
    EXPECT_EQ(cancels, 1);
    buttons->setActionEnabled(true);
    buttons->actionButton()->click();
    EXPECT_EQ(applies, 1);

    // Opening an editor that does not exist yet shows nothing.
    const int before = int(openEditorWindows().size());
    openEditor(EditorKind::crop, WheelEntry{}, {}, QPointF());
    openEditor(EditorKind::redact, WheelEntry{}, {FileInfo{}}, QPointF());
    EXPECT_EQ(openEditorWindows().size(), before);
}

// Asks for more room than any screen has, as a long list of pages does; can do with little.
class TallView : public QWidget {
public:
    QSize sizeHint() const override { return {900, 2400}; }
    QSize minimumSizeHint() const override { return {200, 100}; }
};

TEST(WindowPlacement, AResizableEditorTallerThanItsScreenIsMadeToFit)
{
    const test::FakeScreens screens = twoScreens();
    QPointer<EditorWindow> window =
        presentInEditorWindow(QStringLiteral("Reorder"), true, {}, new TallView, QPointF(960, 700), screens);
    ASSERT_TRUE(window);
    EXPECT_LE(window->height(), 1050 - 24);
    EXPECT_GE(window->height(), 1050 - 24 - 40);
    EXPECT_EQ(window->width(), 900);
    // The whole window, with whatever frame the platform gives it, lies in the visible frame.
    const QRectF frame = flipY(QRectF(framedGeometry(window)), screens.primaryHeight());
    EXPECT_TRUE(QRectF(0, 30, 1920, 1050).contains(frame)) << frame.y() << " " << frame.height();
    finishEditor(window);
}
