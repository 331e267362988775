#include "platform/desktop/ScreenProvider.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"
#include "support/WindowManager.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>

using namespace qv;
using namespace qv::test;

// A window manager frames the window after it is placed: its title bar must not push the
// editor past the bottom of the screen.
TEST(EditorPlacement, TheWholeFramedWindowStaysInsideTheScreen)
{
    QV_REQUIRE_X11();
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty())
        GTEST_SKIP() << "needs openbox, a window manager that draws title bars";
    QProcess manager;
    manager.start(openbox, {QStringLiteral("--sm-disable")});
    ASSERT_TRUE(manager.waitForStarted());
    const auto stop = qScopeGuard([&manager] {
        manager.terminate();
        if (!manager.waitForFinished(3000))
            manager.kill();
        manager.waitForFinished(3000);
    });
    // Until the manager frames a window, it is not running yet (or another one was).
    {
        QWidget probe(nullptr, Qt::Window);
        probe.resize(100, 100);
        probe.show();
        if (!waitFor([&] { return framedGeometry(&probe) != probe.geometry(); }, 5000))
            GTEST_SKIP() << "openbox did not take over the display";
    }

    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    const QRect available = screen->availableGeometry();
    const double height = ScreenProvider::system().primaryHeight();
    for (const QPointF point : {QPointF(available.center().x(), height - available.bottom() + 30),
                                QPointF(available.right() - 10, height - available.top() - 5)}) {
        SCOPED_TRACE(point.x());
        auto* content = new QLabel(QStringLiteral("picture"));
        content->setFixedSize(720, available.height() / 2 + 60);
        QPointer<EditorWindow> window =
            presentInEditorWindow(QStringLiteral("Trim clip.mp4"), false, {}, content, point);
        ASSERT_TRUE(waitFor([&] { return window && framedGeometry(window) != window->geometry(); }, 5000));
        // The second look, once framed, has had its time.
        waitFor([] { return false; }, 1500);
        ASSERT_TRUE(window);
        const QRect frame = framedGeometry(window);
        EXPECT_GT(window->geometry().top(), frame.top()) << "no title bar";
        EXPECT_TRUE(available.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                               << frame.height() << " in " << available.width() << "x"
                                               << available.height();
        finishEditor(window);
    }
}

namespace {

// Content that asks for more height than the screen has but can do with less, as a page grid
// or a photo editor of a tall picture does.
class TallContent : public QLabel {
public:
    explicit TallContent(int height) : QLabel(QStringLiteral("pages")), m_height(height) { setMinimumSize(300, 200); }
    QSize sizeHint() const override { return {640, m_height}; }

private:
    int m_height;
};

} // namespace

// Taller than the screen, frame included: the window gives up the difference instead of
// reaching below the screen.
TEST(EditorPlacement, AWindowTallerThanTheScreenShrinksToFitItFramed)
{
    QV_REQUIRE_X11();
    WindowManager manager;
    if (!manager.whyNot().isEmpty())
        GTEST_SKIP() << manager.whyNot().toStdString();
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    const QRect available = screen->availableGeometry();
    const double height = ScreenProvider::system().primaryHeight();
    // A resizable one (Reorder, Redact) and one of fixed size (the photo editor).
    for (const bool resizable : {true, false}) {
        SCOPED_TRACE(resizable);
        auto* content = new TallContent(available.height() + 80);
        QPointer<EditorWindow> window = presentInEditorWindow(QStringLiteral("Reorder Pages of report.pdf"), resizable,
                                                              {}, content, QPointF(available.center().x(), height / 2));
        ASSERT_TRUE(waitFor([&] { return window && framedGeometry(window) != window->geometry(); }, 5000));
        waitFor([] { return false; }, 1500);
        ASSERT_TRUE(window);
        const QRect frame = framedGeometry(window);
        EXPECT_TRUE(available.contains(frame)) << frame.y() << "+" << frame.height() << " in " << available.y()
                                               << "+" << available.height();
        finishEditor(window);
    }
}
