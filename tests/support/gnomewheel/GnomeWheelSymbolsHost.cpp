// The wheel as the application shows it in a GNOME session, an X11 window through XWayland,
// with the symbols the icon theme draws: OCR, Redact, Terminal and Copy Path, as a click-mode
// wheel for the file given. Its icon theme and palette are the session's; with "dark" the
// palette's window is dark, as a dark Qt theme makes it. It prints:
//   theme <name>                   the icon theme Qt took from the session
//   ink <r> <g> <b> <alpha>        the colour the wheel draws its titles and symbols in
//   icon <x> <y> <w> <h> <name>    a symbol's box on the screen and the theme's icon drawn in
//                                  it ("-" for the program's own drawing), one line each, in order
//   ready                          after them, once the wheel stands still on screen

#include "catalogue/SystemServices.h"
#include "graphics/SymbolTable.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/settings/SettingsStore.h"
#include "wheel/ui/WheelController.h"
#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"
#include "support/Say.h"

#include <QApplication>
#include <QIcon>
#include <QPalette>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <cstdio>

using namespace qv;
using qv::test::say;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QUORVENDA_TEST_HARNESS", "1");
    QApplication app(argc, argv);
    if (app.arguments().size() < 2) {
        std::fprintf(stderr, "usage: %s <file url> [dark]\n", argv[0]);
        return 2;
    }
    if (app.arguments().value(2) == QLatin1String("dark")) {
        QPalette dark = app.palette();
        dark.setColor(QPalette::Window, QColor(36, 36, 36));
        app.setPalette(dark);
    }
    installSystemServices();
    SettingsStore& store = SettingsStore::shared();
    registerDefaultSettings(store);

    WheelController::Services services = WheelController::Services::system();
    services.settings = &store;
    services.contentSource = [](const QList<FileInfo>&, WheelKind kind) {
        const QList<std::pair<QString, QString>> entries{{QStringLiteral("OCR"), QStringLiteral("text.viewfinder")},
                                                         {QStringLiteral("Redact"), QStringLiteral("rectangle.dashed.and.paperclip")},
                                                         {QStringLiteral("Terminal"), QStringLiteral("terminal")},
                                                         {QStringLiteral("Copy Path"), QStringLiteral("link")}};
        QList<WheelEntry> list;
        for (const auto& [title, symbol] : entries)
            list.append(WheelEntry{QStringLiteral("entry.") + symbol, title, symbol, kind, {}});
        return WheelContent::build(kind, list, std::nullopt);
    };
    services.refreshExternalApps = {};
    services.nudgePointer = [] {};
    // Opened at a point of its own: nothing to ask the desktop.
    services.locatePointer = {};
    services.watchClickWheel = {};
    services.dispatch = [](const WheelEntry&, const QList<FileInfo>&, const WheelController::Promises&, bool, QPointF) {};
    WheelController controller(services);

    say(QStringLiteral("theme ") + QIcon::themeName());
    // Told once the wheel is exposed, laid out with its symbols, and done moving.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWindow* window = controller.panel().windowHandle();
        WheelView& view = controller.view();
        if (!window || !window->isExposed() || !controller.isPanelVisible() || !controller.timeline().isIdle()
            || !view.timeline().isIdle() || view.scene().segments.size() != 4)
            return;
        for (const SceneSegment& segment : view.scene().segments) {
            if (!segment.icon || segment.iconFrame.isEmpty())
                return;
        }
        watch.stop();
        const QColor ink = view.scene().segments.first().title.color;
        say(QStringLiteral("ink %1 %2 %3 %4").arg(ink.red()).arg(ink.green()).arg(ink.blue()).arg(ink.alphaF()));
        for (const SceneSegment& segment : view.scene().segments) {
            const QRect frame = segment.iconFrame.toAlignedRect();
            const QPoint at = view.mapToGlobal(frame.topLeft());
            const QString name = oneColourSymbolIcon(segment.layer.model ? segment.layer.model->symbol.value_or(QString()) : QString()).name();
            say(QStringLiteral("icon %1 %2 %3 %4 %5").arg(at.x()).arg(at.y()).arg(frame.width()).arg(frame.height())
                    .arg(name.isEmpty() ? QStringLiteral("-") : name));
        }
        say(QStringLiteral("ready"));
    });
    watch.start(20);
    controller.showWheel({QUrl(app.arguments()[1])}, WheelKind::actions, QPointF(640, 400));
    return app.exec();
}
