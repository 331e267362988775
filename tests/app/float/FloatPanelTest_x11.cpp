#include "app/float/FloatPanel.h"
#include "app/preview/PictureView.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"
#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QToolButton>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QKeyEvent>
#include <QPointer>

using namespace qv;

namespace {

class FloatPanelTest : public ::testing::Test {
protected:
    void SetUp() override { QV_REQUIRE_X11(); }

    void TearDown() override
    {
        for (FloatPanel* panel : QList<FloatPanel*>(openFloatPanels()))
            panel->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QString picture(const QString& name, QSize size)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(image.save(path));
        return path;
    }

    QString ffmpeg(const QString& name, const QStringList& input)
    {
        const QString path = m_dir.filePath(name);
        QStringList args{"-v", "error", "-y", "-f", "lavfi"};
        args << input << path;
        EXPECT_EQ(test::runProgram("ffmpeg", args), 0);
        return path;
    }

    // Floats at a point given in Qt's coordinates, as the tests think in them.
    static void press(QWidget* widget, int key)
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }

    static void doubleClick(QWidget* widget, QPointF at)
    {
        QMouseEvent event(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }

    QList<FloatPanel*> floatAt(const QStringList& paths, QPoint point)
    {
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        const auto& screens = ScreenProvider::system();
        floatFiles(urls, flipY(QPointF(point), screens.primaryHeight()));
        return openFloatPanels();
    }

    static QSize sizeOf(const QString& path)
    {
        TearDownPanels();
        floatFiles({QUrl::fromLocalFile(path)}, {600, 600});
        EXPECT_EQ(openFloatPanels().size(), 1);
        return openFloatPanels().isEmpty() ? QSize() : openFloatPanels().first()->size();
    }

    static void TearDownPanels()
    {
        for (FloatPanel* panel : QList<FloatPanel*>(openFloatPanels()))
            panel->close();
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(FloatPanelTest, EightFilesOpenSixPanelsCascadedFromThePoint)
{
    QStringList paths;
    for (int i = 1; i <= 8; ++i)
        paths << picture(QString("p%1.png").arg(i), {400, 300});
    const auto panels = floatAt(paths, {640, 400});
    ASSERT_EQ(panels.size(), 6);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(panels[i]->windowTitle(), QString("p%1.png").arg(i + 1));
        EXPECT_TRUE(panels[i]->isVisible());
        EXPECT_EQ(panels[i]->geometry(), QRect(440 + 28 * i, 250 + 28 * i, 400, 300));
        const Qt::WindowFlags flags = panels[i]->windowFlags();
        EXPECT_TRUE(flags.testFlag(Qt::Tool));
        EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_TRUE(panels[i]->testAttribute(Qt::WA_ShowWithoutActivating));
        auto* view = qobject_cast<PictureView*>(panels[i]->contentView());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->image().size(), QSize(400, 300));
    }
    EXPECT_TRUE(test::waitFor([&] { return panels[5]->windowOpacity() == 1.0; }));
}

// Each Float of one file at the same place: the panels go down the cascade instead of landing
// exactly on one another, and a text's first line is not under the close button.
TEST_F(FloatPanelTest, LaterFloatsCascadeAndTheCloseButtonCoversNoText)
{
    const QString first = picture(QStringLiteral("one.png"), {400, 300});
    const QString second = picture(QStringLiteral("two.png"), {400, 300});
    floatAt({first}, {640, 400});
    const auto panels = floatAt({second}, {640, 400});
    ASSERT_EQ(panels.size(), 2);
    EXPECT_EQ(panels[0]->geometry(), QRect(440, 250, 400, 300));
    EXPECT_EQ(panels[1]->geometry(), QRect(440 + 28, 250 + 28, 400, 300));
    TearDownPanels();

    const QString text = test::writeFile(m_dir.filePath(QStringLiteral("notes.txt")), "The first line of the notes\n");
    const auto textPanels = floatAt({text}, {640, 400});
    ASSERT_EQ(textPanels.size(), 1);
    QWidget* close = nullptr;
    for (auto* button : textPanels[0]->findChildren<QToolButton*>())
        close = button;
    ASSERT_TRUE(close);
    EXPECT_GE(textPanels[0]->contentView()->geometry().top(), close->geometry().bottom());
}

TEST_F(FloatPanelTest, PanelSizesFollowTheContent)
{
    EXPECT_EQ(sizeOf(picture("big.jpg", {4000, 3000})), QSize(520, 390));
    // The picture is a thumbnail at the panel's size, not the whole photo.
    auto* view = qobject_cast<PictureView*>(openFloatPanels().first()->contentView());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->image().size(), QSize(520, 390));
    EXPECT_EQ(sizeOf(picture("small.png", {200, 100})), QSize(200, 120));
    const QString text = test::writeFile(m_dir.filePath("notes.txt"), "one\ntwo\n");
    EXPECT_EQ(sizeOf(text), QSize(480, 360));

    const QString pdf = m_dir.filePath("letter.pdf");
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::Letter));
        QPainter painter(&writer);
        painter.drawText(100, 100, "Letter");
    }
    EXPECT_EQ(sizeOf(pdf), QSize(402, 520));
    // A page turned a quarter shows on its side.
    const QString turned = test::writeFile(m_dir.filePath("turned.pdf"),
        "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
        "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
        "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 >> endobj\n"
        "trailer << /Root 1 0 R >>\n%%EOF\n");
    EXPECT_EQ(sizeOf(turned), QSize(520, 402));

    EXPECT_EQ(sizeOf(ffmpeg("tone.wav", {"-i", "sine=duration=0.5"})), QSize(480, 120));
    ASSERT_EQ(openFloatPanels().size(), 1);
    EXPECT_NE(openFloatPanels().first()->player(), nullptr);
}

TEST_F(FloatPanelTest, AMovieStartsWideAndEndsAtItsOwnSize)
{
    const QString movie = ffmpeg("clip.mp4", {"-i", "testsrc=size=320x240:duration=0.5", "-pix_fmt", "yuv420p"});
    const auto panels = floatAt({movie}, {700, 500});
    ASSERT_EQ(panels.size(), 1);
    FloatPanel* panel = panels.first();
    EXPECT_EQ(panel->size(), QSize(480, 270));
    const QPoint topLeft = panel->pos();
    EXPECT_TRUE(test::waitFor([&] { return panel->size() == QSize(320, 240); }))
        << panel->size().width() << "x" << panel->size().height();
    EXPECT_EQ(panel->pos(), topLeft);
    // Resizing keeps the movie's 4:3.
    // The window system answers a resize in its own time.
    panel->resize(400, 100);
    EXPECT_TRUE(test::waitFor([&] { return panel->size() == QSize(400, 300); }))
        << panel->size().width() << "x" << panel->size().height();
}

TEST_F(FloatPanelTest, AtTheBottomRightCornerThePanelStaysEightPixelsInside)
{
    const auto screen = ScreenProvider::system().mainScreen();
    ASSERT_TRUE(screen);
    const QRect visible =
        flipY(screen->visibleFrame, ScreenProvider::system().primaryHeight()).toRect();
    const auto panels = floatAt({picture("corner.png", {400, 300})},
                                visible.bottomRight() - QPoint(2, 2));
    ASSERT_EQ(panels.size(), 1);
    const QRect frame = panels.first()->geometry();
    EXPECT_EQ(frame.right() + 1, visible.right() + 1 - 8);
    EXPECT_EQ(frame.bottom() + 1, visible.bottom() + 1 - 8);
}

TEST_F(FloatPanelTest, UnreadableFilesStillGetTheirPanels)
{
    const QString badPicture = test::writeFile(m_dir.filePath("broken.png"), "not a picture");
    const QString badPdf = test::writeFile(m_dir.filePath("broken.pdf"), "%PDF-1.4 garbage");
    const QString badMovie = test::writeFile(m_dir.filePath("broken.mp4"), "not a movie");
    const QString missing = m_dir.filePath("gone.png");
    // A header claiming 40000 x 40000 pixels over a kilobyte of data.
    const QString bomb = test::writeFile(m_dir.filePath("bomb.png"),
        QByteArray("\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x9c\x40"
                   "\x00\x00\x9c\x40\x08\x02\x00\x00\x00\xde\x6e\x99\x52\x00\x00\x00\x11\x49\x44\x41"
                   "\x54\x78\x9c\x63\x60\x18\x05\xa3\x60\x14\x0c\x77\x00\x00\x03\xe8\x00\x01\xb3\xa6"
                   "\xd3\x46\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82", 74));
    const auto panels = floatAt({badPicture, badPdf, badMovie, missing, bomb}, {800, 500});
    ASSERT_EQ(panels.size(), 5);
    EXPECT_EQ(panels[4]->size(), QSize(520, 520));
    EXPECT_FALSE(qobject_cast<PictureView*>(panels[4]->contentView())->hasPicture());
    EXPECT_EQ(panels[0]->size(), QSize(480, 360));
    EXPECT_FALSE(qobject_cast<PictureView*>(panels[0]->contentView())->hasPicture());
    EXPECT_EQ(panels[1]->size(), QSize(390, 520));
    EXPECT_EQ(panels[2]->size(), QSize(480, 270));
    EXPECT_NE(panels[2]->player(), nullptr);
    EXPECT_EQ(panels[3]->size(), QSize(480, 360));
    EXPECT_EQ(panels[3]->windowTitle(), "gone.png");
    test::waitFor([] { return false; }, 300); // the movie's probe and the player's load fail quietly
    EXPECT_EQ(openFloatPanels().size(), 5);
    EXPECT_EQ(panels[2]->size(), QSize(480, 270));
}

TEST_F(FloatPanelTest, EscapeDoubleClickAndTheMenuClose)
{
    const auto panels = floatAt({picture("a.png", {400, 300}), picture("b.png", {400, 300}),
                                 ffmpeg("c.wav", {"-i", "sine=duration=0.5"})},
                                {700, 500});
    ASSERT_EQ(panels.size(), 3);
    QPointer<FloatPanel> a = panels[0], b = panels[1], sound = panels[2];

    press(a, Qt::Key_Escape);
    EXPECT_FALSE(openFloatPanels().contains(a.data()));
    EXPECT_TRUE(test::waitFor([&] { return a.isNull(); }));

    // A double click on a sound goes to the player.
    doubleClick(sound->contentView(), {240, 40});
    EXPECT_TRUE(openFloatPanels().contains(sound.data()));
    doubleClick(b->contentView(), {200, 150});
    EXPECT_FALSE(openFloatPanels().contains(b.data()));

    QStringList titles;
    for (QAction* action : sound->contextMenu()->actions())
        titles << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(titles, QStringList({"Opacity 100 %", "Opacity 75 %", "Opacity 50 %", "Opacity 25 %",
                                   "-", "Show in File Manager", "Close"}));
    sound->contextMenu()->actions().last()->trigger();
    EXPECT_TRUE(openFloatPanels().isEmpty());
}

TEST_F(FloatPanelTest, OpacityFromTheMenuAndAltWithTheWheel)
{
    const auto panels = floatAt({picture("a.png", {400, 300})}, {700, 500});
    ASSERT_EQ(panels.size(), 1);
    FloatPanel* panel = panels.first();
    ASSERT_TRUE(test::waitFor([&] { return panel->windowOpacity() == 1.0; }));

    panel->contextMenu()->actions()[3]->trigger(); // 25 %
    EXPECT_TRUE(test::waitFor([&] { return qAbs(panel->windowOpacity() - 0.25) < 0.01; }));

    auto scroll = [&](int notches, Qt::KeyboardModifiers modifiers) {
        // Qt delivers Alt with the wheel as a horizontal scroll.
        const QPoint angle = modifiers & Qt::AltModifier ? QPoint(120 * notches, 0) : QPoint(0, 120 * notches);
        QWheelEvent event(QPointF(10, 10), panel->mapToGlobal(QPointF(10, 10)), {}, angle,
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(panel, &event);
    };
    scroll(-3, Qt::AltModifier);
    EXPECT_NEAR(panel->windowOpacity(), 0.2, 0.01);
    scroll(2, Qt::AltModifier);
    EXPECT_NEAR(panel->windowOpacity(), 0.4, 0.01);
    scroll(20, Qt::AltModifier);
    EXPECT_NEAR(panel->windowOpacity(), 1.0, 0.01);
    scroll(-5, Qt::NoModifier);
    EXPECT_NEAR(panel->windowOpacity(), 1.0, 0.01);
}

TEST_F(FloatPanelTest, AGrownPanelReadsASharperPictureKeepingItsProportions)
{
    const auto panels = floatAt({picture("photo.jpg", {2000, 1500})}, {700, 500});
    ASSERT_EQ(panels.size(), 1);
    FloatPanel* panel = panels.first();
    auto* view = qobject_cast<PictureView*>(panel->contentView());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->image().size(), QSize(520, 390));
    panel->resize(800, 10);
    EXPECT_TRUE(test::waitFor([&] { return panel->size() == QSize(800, 600); }))
        << panel->size().width() << "x" << panel->size().height();
    EXPECT_TRUE(test::waitFor([&] { return view->image().size() == QSize(800, 600); }))
        << view->image().width();
}

// Xlib last: its macros would clash with the code above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

QList<QByteArray> netWmState(unsigned long window)
{
    QList<QByteArray> names;
    ::Display* display = XOpenDisplay(nullptr);
    if (!display)
        return names;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), 0, 64, False,
                           XA_ATOM, &type, &format, &count, &after, &data) == Success && data) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; ++i) {
            char* name = XGetAtomName(display, atoms[i]);
            names << QByteArray(name);
            XFree(name);
        }
        XFree(data);
    }
    XCloseDisplay(display);
    return names;
}

} // namespace

TEST_F(FloatPanelTest, PanelsAskToStayOnEveryDesktopAndAboveTheOthers)
{
    const auto panels = floatAt({picture("a.png", {400, 300})}, {700, 500});
    ASSERT_EQ(panels.size(), 1);
    const QList<QByteArray> state = netWmState(panels.first()->winId());
    EXPECT_TRUE(state.contains("_NET_WM_STATE_STICKY")) << state.join(' ').toStdString();
    EXPECT_TRUE(state.contains("_NET_WM_STATE_ABOVE")) << state.join(' ').toStdString();
}
