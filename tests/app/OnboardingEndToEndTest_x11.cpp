#include "RunningApp.h"

#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <optional>

using namespace qv::test;

namespace {

// Where the window of that title is on the screen, if it is, looked up on a connection of our
// own.
std::optional<QPoint> windowPlace(const QString& title)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return std::nullopt;
    std::optional<QPoint> found;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, children[i], &attributes)
                || attributes.map_state != IsViewable)
                continue;
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, children[i], netName, 0, 1024, False, utf8, &type,
                                   &format, &items, &after, &data)
                    == Success
                && data) {
                int x = 0, y = 0;
                Window child = 0;
                if (QString::fromUtf8(reinterpret_cast<const char*>(data), int(items)) == title
                    && XTranslateCoordinates(display, children[i], DefaultRootWindow(display), 0, 0, &x, &y, &child))
                    found = QPoint(x, y);
                XFree(data);
            }
        }
        if (children)
            XFree(children);
    }
    XCloseDisplay(display);
    return found;
}

bool windowShown(const QString& title)
{
    return windowPlace(title).has_value();
}

class OnboardingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        QV_REQUIRE_X11();
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs a session bus (test.sh runs the tests in one)";
        if (!sessionBusNameFree())
            GTEST_SKIP() << "another Quorvenda runs on this session bus";
    }

    void startApp(RunningApp& app)
    {
        QProcessEnvironment env = app.environment();
        // The practice photo goes with the rest of this test's files.
        env.insert(QStringLiteral("XDG_DATA_HOME"), app.home().filePath(QStringLiteral("data")));
        app.process().setProcessEnvironment(env);
        app.start();
        ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
            << qPrintable(app.log());
    }

    bool settingsSayDone(const RunningApp& app)
    {
        QFile file(app.home().filePath(QStringLiteral("config/quorvenda/settings.json")));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        return QJsonDocument::fromJson(file.readAll()).object().value(
                   QStringLiteral("quorvenda.onboardingDone"))
            == QJsonValue(true);
    }

    static void stop(RunningApp& app)
    {
        app.process().terminate();
        app.process().waitForFinished(10000);
    }
};

TEST_F(OnboardingEndToEnd, TheFirstStartWelcomesReturnClosesAndTheNextStartStaysSilent)
{
    const QString title = QStringLiteral("Welcome to Quorvenda");
    RunningApp app;
    startApp(app);
    ASSERT_TRUE(waitFor([&] { return windowShown(title); })) << qPrintable(app.log());

    X11Keys keys;
    ASSERT_TRUE(keys.isOpen());
    ASSERT_TRUE(waitFor([&] {
        keys.chord({QStringLiteral("Return")});
        return waitFor([&] { return !windowShown(title); }, 500);
    }));
    EXPECT_TRUE(waitFor([&] { return settingsSayDone(app); }));
    stop(app);
    ASSERT_TRUE(sessionBusNameFree());

    startApp(app);
    // Give a window that should not come the time it would take.
    waitFor([] { return false; }, 1000);
    EXPECT_FALSE(windowShown(title));
    // The log holds both runs: only the first showed the window.
    EXPECT_EQ(app.log().count(QStringLiteral("Showing the onboarding window")), 1);
    stop(app);
}

// The practice: the photo dragged a little in its window, a tap of Shift, and a drop on PNG
// write the copy beside the photo.
TEST_F(OnboardingEndToEnd, ThePracticePhotoDraggedWithAShiftTapAndDroppedOnPngIsConverted)
{
    RunningApp app;
    startApp(app);
    const QString ready = QStringLiteral("Practice photo ready at ");
    ASSERT_TRUE(waitFor([&] { return !app.lineStartingWith(QStringLiteral("app"), ready).isEmpty(); }, 20000))
        << qPrintable(app.log());
    const QStringList inWindow = app.lineStartingWith(QStringLiteral("app"), ready)
                                     .section(ready, 1)
                                     .section(QLatin1Char(' '), 0, 0)
                                     .split(QLatin1Char(','));
    ASSERT_EQ(inWindow.size(), 2);
    std::optional<QPoint> window;
    ASSERT_TRUE(waitFor([&] {
        window = windowPlace(QStringLiteral("Welcome to Quorvenda"));
        return window.has_value();
    }));
    const QPoint tile = *window + QPoint(inWindow[0].toInt(), inWindow[1].toInt());

    X11Keys input;
    ASSERT_TRUE(input.isOpen());
    input.move(tile.x(), tile.y());
    input.button(true);
    // In steps a drag follows.
    for (int step = 1; step <= 8; ++step) {
        input.move(tile.x() + 5 * step, tile.y() + 2 * step);
        waitFor([] { return false; }, 20);
    }
    ASSERT_TRUE(app.waitForLine(QStringLiteral("drag"), QStringLiteral("File drag: 1 URLs, 0 promises"), 20000))
        << qPrintable(app.log());
    input.chord({QStringLiteral("Shift_L")});
    QString opened;
    ASSERT_TRUE(waitFor([&] {
        opened = app.lineStartingWith(QStringLiteral("wheel"), QStringLiteral("Opened convert wheel"));
        return !opened.isEmpty();
    }, 20000)) << qPrintable(app.log());
    const QStringList centre = opened.section(QLatin1Char(' '), -1).split(QLatin1Char(','));
    ASSERT_EQ(centre.size(), 2) << qPrintable(opened);
    // PNG, the second segment clockwise from the top, of the medium wheel.
    const QPoint png = QPoint(centre[0].toInt(), centre[1].toInt()) + QPoint(105, -105);
    const QPoint from = tile + QPoint(40, 16);
    for (int step = 1; step <= 5; ++step) {
        const QPoint at = from + (png - from) * step / 5;
        input.move(at.x(), at.y());
        waitFor([] { return false; }, 20);
    }
    input.button(false);
    ASSERT_TRUE(waitFor([&] {
        return !app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished ")).isEmpty();
    }, 20000)) << qPrintable(app.log());
    EXPECT_TRUE(app.hasLine(QStringLiteral("wheel"), QStringLiteral("Chose convert.image.png"))) << qPrintable(app.log());
    const QDir practice(app.home().filePath(QStringLiteral("data/quorvenda/Practice")));
    EXPECT_EQ(practice.entryList(QDir::Files),
              QStringList({QStringLiteral("Practice Photo.heic"), QStringLiteral("Practice Photo.png")}))
        << qPrintable(app.log());
    stop(app);
}

} // namespace
