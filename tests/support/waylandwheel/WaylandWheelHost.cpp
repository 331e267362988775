// The wheel as the application runs it in a Wayland session, with six made-up entries per
// wheel and a dispatcher that only reports: the session's drag source (a strip on the edge
// given as the first argument; the second is the dwell in seconds), the drag watcher and the
// wheel controller. With a third argument, a file URL, it opens a click-mode wheel for it once
// ready, as for files handed to the application; with "practice=<folder>" instead, it shows the
// welcome window's content with its practice photo in that folder, on a window over the whole
// screen (so that its points are the screen's). It reads commands from its input:
//   hotkey <file url>             what the hot key does: opens a click-mode wheel for the file
//                                 under the pointer, or closes the one shown
// It prints:
//   ready                         the strip is on screen
//   tile <x> <y>                  where the practice photo is, once it is made (practice)
//   drag <count>                  a file drag began
//   wheel <kind> <x> <y>          a wheel opened; segment 2's label is at that point
//   centre <x> <y>                and its centre is there
//   chip <words>                  what the chip says, whenever it changes
//   dispatched <entry> <url>...   a drop on a segment
//   ended                         the drag is over
//   closed                        the wheel went away, its window hidden
//   log <message>                 what the drag back end and the watcher log

#include "app/welcome/OnboardingView.h"
#include "app/welcome/PracticeTile.h"
#include "catalogue/SystemServices.h"
#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/drags/DesktopDragSource.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/LayerShell.h"
#include "wheel/DragWatcher.h"
#include "wheel/ui/WheelController.h"
#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"
#include "support/Say.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <cstdio>

#include <unistd.h>

using namespace qv;

namespace {

using qv::test::say;

// The drag log on the output too: tests wait for what it tells.
QtMessageHandler previousHandler = nullptr;
void relayDragLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (context.category
        && (qstrcmp(context.category, "quorvenda.drag") == 0
            || (qstrcmp(context.category, "quorvenda.wheel") == 0 && message.startsWith(QLatin1String("Drag over ")))))
        say(QStringLiteral("log ") + message);
    previousHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    qputenv("QT_WAYLAND_DISABLE_FIXED_POSITIONS", "1");
    qputenv("QUORVENDA_TEST_HARNESS", "1");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("quorvenda.drag.debug=true\nquorvenda.wheel.debug=true"));
    previousHandler = qInstallMessageHandler(relayDragLog);
    if (app.arguments().size() != 3 && app.arguments().size() != 4) {
        std::fprintf(stderr, "usage: %s <edge> <dwell seconds> [<file url> | practice=<folder>]\n", argv[0]);
        return 2;
    }
    installSystemServices();
    SettingsStore& store = SettingsStore::shared();
    registerDefaultSettings(store);
    store.setValue(SettingsKey::dragStripEdge, app.arguments()[1]);
    store.setValue(SettingsKey::dragStripDwell, app.arguments()[2].toDouble());

    DragWatcher watcher(makeDesktopDragSource(), store, Clock::system());
    WheelController::Services services = WheelController::Services::system();
    services.settings = &store;
    services.contentSource = [](const QList<FileInfo>&, WheelKind kind) {
        QList<WheelEntry> list;
        for (int i = 0; i < 6; ++i)
            list.append(WheelEntry{QStringLiteral("%1.%2").arg(toString(kind)).arg(i),
                                   QStringLiteral("Entry %1").arg(i), QStringLiteral("crop"), kind, {}});
        return WheelContent::build(kind, list, std::nullopt);
    };
    services.refreshExternalApps = {};
    services.nudgePointer = [&watcher] { watcher.nudgePointer(); };
    services.dispatch = [](const WheelEntry& entry, const QList<FileInfo>& files,
                           const WheelController::Promises&, bool, QPointF) {
        QStringList words{QStringLiteral("dispatched"), entry.id};
        for (const FileInfo& file : files)
            words.append(file.url.toString(QUrl::FullyEncoded));
        say(words.join(QLatin1Char(' ')));
    };
    WheelController controller(services);
    controller.attach(watcher);
    QObject::connect(&watcher, &DragWatcher::dragBegan, [](const QList<QUrl>& urls, const QList<FileInfo>&) {
        say(QStringLiteral("drag %1").arg(urls.size()));
    });
    QObject::connect(&watcher, &DragWatcher::dragEnded, [] { say(QStringLiteral("ended")); });
    QObject::connect(&controller, &WheelController::wheelClosed, [&controller] {
        // Once its window is gone from the compositor too.
        auto* poll = new QTimer(&controller);
        QObject::connect(poll, &QTimer::timeout, [&controller, poll] {
            if (controller.panel().isVisible())
                return;
            poll->deleteLater();
            say(QStringLiteral("closed"));
        });
        poll->start(5);
    });
    QObject::connect(&controller, &WheelController::wheelOpened, [&controller](WheelKind kind) {
        // Once the wheel is placed and drawn.
        auto* poll = new QTimer(&controller);
        QObject::connect(poll, &QTimer::timeout, [&controller, kind, poll] {
            QWindow* window = controller.panel().windowHandle();
            if (!window || !window->isExposed() || !LayerShell::hasRole(window))
                return;
            poll->deleteLater();
            WheelView& view = controller.view();
            const QPoint label
                = view.mapToGlobal(view.toWidget(view.wheelGeometry().labelCenter(2))).toPoint();
            say(QStringLiteral("wheel %1 %2 %3").arg(toString(kind)).arg(label.x()).arg(label.y()));
            const QPoint centre = view.mapToGlobal(view.toWidget(view.wheelGeometry().center)).toPoint();
            say(QStringLiteral("centre %1 %2").arg(centre.x()).arg(centre.y()));
        });
        poll->start(10);
    });
    watcher.start();
    if (!watcher.isAvailable()) {
        std::fprintf(stderr, "no drag back end in this session\n");
        return 2;
    }
    QSocketNotifier commands(0, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&controller, &commands] {
        char line[4096];
        const ssize_t got = read(0, line, sizeof line - 1);
        if (got <= 0) {
            commands.setEnabled(false);
            return;
        }
        line[got] = 0;
        for (const QString& command : QString::fromUtf8(line).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList words = command.split(QLatin1Char(' '));
            if (words.size() != 2 || words[0] != QLatin1String("hotkey"))
                continue;
            // As the application's hot key: a second press closes the wheel it opened.
            if (controller.mode() == WheelController::Mode::click
                && (controller.isPanelVisible() || controller.isClickWheelPending()))
                controller.closeWheel(true);
            else
                controller.showWheel({QUrl(words[1])}, WheelKind::convert);
        }
    });
    // What the chip says whenever it changes, switches between wheels in place too.
    QTimer chip;
    QString chipSaid;
    QObject::connect(&chip, &QTimer::timeout, [&controller, &chipSaid] {
        const QString line = controller.isPanelVisible() ? controller.view().chipLine() : QString();
        if (line != chipSaid && !line.isEmpty())
            say(QStringLiteral("chip ") + line);
        chipSaid = line;
    });
    chip.start(20);
    QString clickFile = app.arguments().value(3);
    // The welcome window's content, centred on a window over the whole screen, which takes
    // nothing dropped on it.
    std::unique_ptr<QWidget> practice;
    if (clickFile.startsWith(QLatin1String("practice="))) {
        OnboardingView::Services welcome;
        welcome.store = &store;
        welcome.setLaunchAtLogin = [](bool) {};
        welcome.launchAtLoginEnabled = [] { return false; };
        welcome.openSettings = [] {};
        welcome.practice = PracticeArea::Services{&store, &watcher, nullptr, clickFile.mid(9), !desktopDragsHearKeys(),
                                                  ownDragKeysReachOnlyOurWindows()};
        clickFile.clear();
        practice = std::make_unique<QWidget>();
        practice->setAcceptDrops(true);
        auto* row = new QHBoxLayout(practice.get());
        row->addWidget(new OnboardingView(welcome), 0, Qt::AlignCenter);
        practice->showFullScreen();
    }
    QTimer ready;
    bool stripShown = false;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        for (QWindow* window : QGuiApplication::allWindows()) {
            if (!stripShown && window->isVisible() && window->flags().testFlag(Qt::BypassWindowManagerHint)
                && LayerShell::hasRole(window) && window->isExposed()) {
                stripShown = true;
                say(QStringLiteral("ready"));
                if (!clickFile.isEmpty())
                    controller.showWheel({QUrl(clickFile)}, WheelKind::convert, QPointF(640, 400));
            }
        }
        if (!practice) {
            if (stripShown)
                ready.stop();
            return;
        }
        // Over the whole screen, drawn, and the photo made.
        PracticeArea* area = practice->findChild<PracticeArea*>();
        const QScreen* screen = practice->screen();
        if (!stripShown || !practice->windowHandle() || !practice->windowHandle()->isExposed() || !screen
            || practice->size() != screen->size() || !area->isReady() || !area->sample())
            return;
        ready.stop();
        const QPoint tile = area->tile()->mapTo(practice.get(), area->tile()->rect().center());
        say(QStringLiteral("tile %1 %2").arg(tile.x()).arg(tile.y()));
    });
    ready.start(10);
    return app.exec();
}
