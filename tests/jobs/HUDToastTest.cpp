#include "jobs/HudGeometry.h"
#include "jobs/ui/HUDToast.h"
#include "jobs/ui/ToastView.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScopeGuard>

using namespace qv;
using qv::test::waitFor;

namespace {

} // namespace

TEST(HUDToast, StaysWithinItsWidthAndAboveTheBottomOfTheScreen)
{
    const ScreenInfo narrow{QRectF(0, 0, 500, 800), QRectF(0, 40, 500, 760)};
    const QString longText = QStringLiteral("This sentence goes on and on ").repeated(12);
    QPointer<HUDToast> toast = new HUDToast(longText, QStringLiteral("exclamationmark.triangle"), narrow, 800);
    const QRect frame = toast->panel()->geometry();
    EXPECT_LE(frame.width(), 420);
    EXPECT_GT(frame.width(), 300);
    EXPECT_EQ(toast->view()->lineCount(), 3);
    EXPECT_EQ(frame.bottom() + 1, 800 - 40 - 72);
    EXPECT_NEAR(frame.center().x(), 250, 1);
    EXPECT_TRUE(toast->panel()->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(toast->view()->isClickable());
    toast->dismiss(false);
    EXPECT_TRUE(waitFor([&] { return toast.isNull(); }));

    const ScreenInfo wide{QRectF(0, 0, 2560, 1440), QRectF(0, 0, 2560, 1440)};
    QPointer<HUDToast> wideToast = new HUDToast(longText, QStringLiteral("info.circle"), wide, 1440);
    EXPECT_LE(wideToast->panel()->width(), 520);
    EXPECT_GT(wideToast->panel()->width(), 420);
    QPointer<HUDToast> shortToast = new HUDToast(QStringLiteral("Hi"), QStringLiteral("info.circle"), wide, 1440);
    EXPECT_LT(shortToast->panel()->width(), 120);
    EXPECT_EQ(shortToast->view()->lineCount(), 1);
    wideToast->dismiss(false);
    shortToast->dismiss(false);
}

TEST(HUDToast, AClickRunsTheActionOnceAndTakesTheToastAway)
{
    const ScreenInfo screen{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1080)};
    int runs = 0;
    QPointer<HUDToast> toast =
        new HUDToast(QStringLiteral("Moved 2 items"), QStringLiteral("folder"), screen, 1080, [&] { ++runs; });
    EXPECT_TRUE(toast->view()->isClickable());
    EXPECT_FALSE(toast->panel()->testAttribute(Qt::WA_TransparentForMouseEvents));
    toast->present(10);
    EXPECT_TRUE(toast->dismissPending());
    toast->click();
    toast->click();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(toast->dismissPending());
    EXPECT_TRUE(waitFor([&] { return toast.isNull(); }));
}

TEST(HUDToast, UnderTheTestHarnessNothingIsShownButTheOldToastGoes)
{
    const QByteArray before = qgetenv("QUORVENDA_TEST_HARNESS");
    const bool wasSet = qEnvironmentVariableIsSet("QUORVENDA_TEST_HARNESS");
    qputenv("QUORVENDA_TEST_HARNESS", "1");
    const auto restore = qScopeGuard([&] {
        if (wasSet)
            qputenv("QUORVENDA_TEST_HARNESS", before);
        else
            qunsetenv("QUORVENDA_TEST_HARNESS");
    });
    const ScreenInfo screen{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1080)};
    QPointer<HUDToast> old = new HUDToast(QStringLiteral("Old"), QStringLiteral("info.circle"), screen, 1080);
    old->present(3);
    HUDToast::showToast(Toast{QStringLiteral("First"), QStringLiteral("info.circle"), 3.0, {}});
    EXPECT_EQ(HUDToast::current(), nullptr);
    EXPECT_EQ(HUDToast::pendingAnnouncement(), QStringLiteral("First"));
    EXPECT_FALSE(old->dismissPending());
    EXPECT_TRUE(waitFor([&] { return old.isNull(); }));
    HUDToast::showToast(Toast{QStringLiteral("Second"), QStringLiteral("info.circle"), 3.0, {}});
    EXPECT_EQ(HUDToast::pendingAnnouncement(), QStringLiteral("Second"));
}
