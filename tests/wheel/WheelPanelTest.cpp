#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"

#include <QApplication>
#include <QCloseEvent>
#include <qpa/qwindowsysteminterface.h>

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

// Qt closes its popups as the application goes inactive. A wheel of files that never had the
// keyboard stays: the focus left the wheel shown before it, and a busy machine told it late.
// One that had it is dismissed, as the user went elsewhere.
TEST(WheelPanel, AClickWheelStaysWhenTheFocusLeftBeforeItHadTheKeyboard)
{
    using Events = QWindowSystemInterface::SynchronousDelivery;
    WheelPanel panel;
    int dismissed = 0;
    QObject::connect(&panel, &WheelPanel::dismissed, [&] { ++dismissed; });
    panel.setClickMode(true);
    panel.setFrame(QRect(100, 200, 591, 591));
    QWidget before;
    before.show();
    QWindowSystemInterface::handleWindowActivated<Events>(before.windowHandle());
    ASSERT_EQ(QGuiApplication::applicationState(), Qt::ApplicationActive);

    panel.orderFront();
    QWindowSystemInterface::handleWindowActivated<Events>(before.windowHandle());
    ASSERT_FALSE(panel.windowHandle()->isActive());
    QWindowSystemInterface::handleWindowActivated<Events>(nullptr);
    EXPECT_EQ(QGuiApplication::applicationState(), Qt::ApplicationInactive);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(dismissed, 0);

    QWindowSystemInterface::handleWindowActivated<Events>(panel.windowHandle());
    ASSERT_TRUE(panel.windowHandle()->isActive());
    QWindowSystemInterface::handleWindowActivated<Events>(nullptr);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(dismissed, 1);

    // Shown again, it waits for the keyboard anew.
    QWindowSystemInterface::handleWindowActivated<Events>(before.windowHandle());
    panel.orderFront();
    QWindowSystemInterface::handleWindowActivated<Events>(before.windowHandle());
    QWindowSystemInterface::handleWindowActivated<Events>(nullptr);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(dismissed, 1);
    panel.orderOut();
}
