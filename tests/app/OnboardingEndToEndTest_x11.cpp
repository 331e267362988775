#include "RunningApp.h"

#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace qv::test;

namespace {

// Whether a window of that title is on the screen, looked up on a connection of our own.
bool windowShown(const QString& title)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    bool found = false;
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
                found = QString::fromUtf8(reinterpret_cast<const char*>(data), int(items)) == title;
                XFree(data);
            }
        }
        if (children)
            XFree(children);
    }
    XCloseDisplay(display);
    return found;
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

} // namespace
