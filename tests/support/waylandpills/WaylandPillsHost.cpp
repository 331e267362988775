// The tray icon and the pills as the application runs them in a Wayland session: the tray's
// controller with its own menu, the job pills on their layer surfaces, and the menu's room
// handed from one to the other. Shows one "Saved" pill and keeps it. It prints:
//   ready                   the pill is on screen
//   room <points>           the room the open tray menu takes, whenever it changes
//   pill <x> <y> <w> <h>    where Qt put the pill, once it stands still again

#include "app/tray/StatusItemController.h"
#include "catalogue/SystemServices.h"
#include "jobs/Job.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/JobHUD.h"
#include "jobs/ui/PillController.h"
#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/LayerShell.h"
#include "support/Say.h"

#include <QApplication>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <cstdio>

using namespace qv;
using qv::test::say;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    qputenv("QT_WAYLAND_DISABLE_FIXED_POSITIONS", "1");
    qputenv("QUORVENDA_TEST_HARNESS", "1");
    QApplication app(argc, argv);
    installSystemServices();
    registerDefaultSettings(SettingsStore::shared());
    if (!LayerShell::isAvailable()) {
        std::fprintf(stderr, "the compositor offers no layer surfaces\n");
        return 1;
    }
    LayerShell::install();

    StatusItemController& tray = StatusItemController::shared();
    tray.setUp();
    QObject::connect(&tray, &StatusItemController::menuRoomChanged, &JobHUD::shared(), &JobHUD::setTrayMenuRoom);
    QObject::connect(&tray, &StatusItemController::menuRoomChanged,
                     [](double room) { say(QStringLiteral("room %1").arg(room)); });

    auto job = std::make_shared<Job>(QStringLiteral("Converting to PNG"), QStringLiteral("arrow.triangle.2.circlepath"), 1,
                                     QStringLiteral("Holiday.heic"), std::nullopt, Clock::system().now());
    job->setOutputs({QUrl::fromLocalFile(QStringLiteral("/tmp/Holiday.png"))});
    job->setState(Job::State::finished);
    JobHUD::shared().show(job);

    // Tells each place the pill comes to rest at, once its window is exposed there.
    QRect told;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&told] {
        const QList<PillController*>& pills = JobHUD::shared().pills();
        if (pills.isEmpty())
            return;
        HUDPanel* panel = pills.first()->panel();
        QWindow* window = panel->windowHandle();
        if (!window || !window->isExposed() || !LayerShell::hasRole(window) || panel->isAnimating())
            return;
        const QRect frame = panel->geometry();
        if (frame == told)
            return;
        if (told.isNull())
            say(QStringLiteral("ready"));
        told = frame;
        say(QStringLiteral("pill %1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()));
    });
    watch.start(20);
    return app.exec();
}
