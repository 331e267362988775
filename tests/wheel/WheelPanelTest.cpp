#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"

#include <QApplication>
#include <QCloseEvent>

#include <gtest/gtest.h>

using namespace qv;

TEST(WheelPanel, TakesNoFocusWhileDraggingAndIsAPopupInClickMode)
{
    WheelPanel panel;
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::X11BypassWindowManagerHint));
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel.view()->acceptDrops());
    EXPECT_EQ(panel.view()->focusPolicy(), Qt::NoFocus);

    int dismissed = 0;
    QObject::connect(&panel, &WheelPanel::dismissed, [&] { ++dismissed; });
    panel.setClickMode(true);
    EXPECT_EQ(panel.windowType(), Qt::Popup);
    EXPECT_TRUE(panel.view()->isClickMode());
    EXPECT_EQ(panel.view()->focusPolicy(), Qt::StrongFocus);

    // The view fills the panel wherever it goes.
    panel.setFrame(QRect(100, 200, 591, 591));
    EXPECT_EQ(panel.view()->geometry(), QRect(0, 0, 591, 591));

    // Qt closes a popup on a click elsewhere; hiding it ourselves is no dismissal.
    panel.orderFront();
    panel.orderOut();
    EXPECT_EQ(dismissed, 0);
    panel.orderFront();
    panel.close();
    EXPECT_EQ(dismissed, 1);

    panel.setClickMode(false);
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_FALSE(panel.view()->isClickMode());
}
