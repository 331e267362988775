#include "app/preview/PreviewAction.h"
#include "app/preview/PreviewWindow.h"
#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <QApplication>
#include <QKeyEvent>

using namespace qv;

namespace {

class PreviewActionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QV_REQUIRE_X11();
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(m_dir.filePath("a.png")));
        test::writePdf(m_dir.filePath("b.pdf"));
        test::writeFile(m_dir.filePath("c.txt"), "hello\n");
        for (const char* name : {"a.png", "b.pdf", "c.txt"})
            m_urls << QUrl::fromLocalFile(m_dir.filePath(name));
    }

    void TearDown() override
    {
        if (PreviewWindow* window = PreviewAction::shared().window())
            window->close();
    }

    QTemporaryDir m_dir;
    QList<QUrl> m_urls;
};

void press(QWidget* widget, int key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

TEST_F(PreviewActionTest, OneWindowPagedWithTheArrowsAndClosedWithEscape)
{
    auto& action = PreviewAction::shared();
    EXPECT_EQ(&action, &PreviewAction::shared());
    action.show(m_urls);
    PreviewWindow* window = action.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "a.png");
    EXPECT_EQ(action.items(), m_urls);

    press(window, Qt::Key_Right);
    EXPECT_EQ(window->windowTitle(), "b.pdf");
    press(window, Qt::Key_Right);
    press(window, Qt::Key_Right); // the last stays
    EXPECT_EQ(window->windowTitle(), "c.txt");
    press(window, Qt::Key_Left);
    EXPECT_EQ(window->windowTitle(), "b.pdf");

    press(window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());

    // The same window comes back, on the first file; Space closes too.
    action.show({m_urls[2], m_urls[0]});
    EXPECT_EQ(action.window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "c.txt");
    press(window, Qt::Key_Space);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(PreviewActionTest, ANewPreviewReplacesTheFilesOfTheOpenWindow)
{
    auto& action = PreviewAction::shared();
    action.show(m_urls);
    PreviewWindow* window = action.window();
    press(window, Qt::Key_Right);
    action.show({m_urls[2]});
    EXPECT_EQ(action.window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "c.txt");
    EXPECT_EQ(window->items(), QList<QUrl>{m_urls[2]});
    press(window, Qt::Key_Right);
    EXPECT_EQ(window->windowTitle(), "c.txt");
}
