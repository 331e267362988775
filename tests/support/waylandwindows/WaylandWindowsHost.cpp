// The application's ordinary windows as it runs them natively in a Wayland session: the crop
// editor, the settings window, a preview window and a float panel, each on the picture given as
// the only argument, then the panel of progress pills (a layer surface, as the wheel). It
// prints "platform <name>" first, "exposed <name> <width> <height>" as each window is on
// screen, then "done" a moment after the last, and exits.

#include "app/Application.h"
#include "app/float/FloatPanel.h"
#include "app/preview/PreviewWindow.h"
#include "catalogue/SystemServices.h"
#include "catalogue/ToolRegistry.h"
#include "editors/EditorLauncher.h"
#include "jobs/JobCenter.h"
#include "jobs/ui/HUDPanel.h"
#include "model/files/FileInfo.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/desktop/HotkeyGrabber.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"
#include "platform/ui/EditorWindow.h"
#include "platform/wayland/LayerShell.h"
#include "settings/SettingsWindow.h"
#include "settings/SettingsWindowController.h"
#include "support/Say.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>

using namespace qv;

namespace {

using qv::test::say;

// The hot key belongs to no one here.
class NoGrabber : public HotkeyGrabber {
public:
    int install() override { return 0; }
    int grab(const Shortcut&) override { return 0; }
    void ungrab() override {}
};

// Calls back once the widget's window is exposed and has been painted into.
void whenExposed(const QString& name, const std::function<QWidget*()>& find, const std::function<void()>& next,
                 bool layer = false)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [name, find, next, layer, poll] {
        QWidget* widget = find();
        QWindow* window = widget ? widget->windowHandle() : nullptr;
        if (!window || !window->isExposed() || !widget->isVisible() || (layer && !LayerShell::hasRole(window)))
            return;
        poll->deleteLater();
        say(QStringLiteral("exposed %1 %2 %3").arg(name).arg(widget->width()).arg(widget->height()));
        next();
    });
    poll->start(20);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PICTURE\n", argv[0]);
        return 2;
    }
    Application::prepareEnvironment();
    QApplication app(argc, argv);
    say(QStringLiteral("platform ") + QGuiApplication::platformName());
    installSystemServices();
    registerDefaultSettings(SettingsStore::shared());
    LayerShell::install();
    {
        JobCenter::Services services;
        services.clipboard = &Clipboard::system();
        services.workspace = &Workspace::system();
        JobCenter::shared().setServices(services);
    }
    const QUrl picture = QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1]));
    const QPointF middle(400, 300);

    NoGrabber grabber;
    HotkeyCenter hotkeys(grabber, SettingsStore::shared());
    SettingsWindowController::Services settingsServices = SettingsWindowController::Services::system();
    settingsServices.hotkeys = &hotkeys;
    settingsServices.activeJobCount = [] { return 0; };
    SettingsWindowController settings(std::move(settingsServices));
    PreviewWindow preview;
    HUDPanel pills(QSize(300, 60));

    const auto finish = [] {
        QTimer::singleShot(500, qApp, [] {
            say(QStringLiteral("done"));
            QApplication::exit(0);
        });
    };
    const auto pillPanel = [&pills, finish] {
        pills.setContent(new QLabel(QStringLiteral("Converting 1 file")));
        pills.setFrame(QRect(900, 700, 300, 60));
        pills.orderFrontRegardless();
        whenExposed(QStringLiteral("pills"), [&pills] { return &pills; }, finish, true);
    };
    const auto floatPanel = [picture, middle, pillPanel] {
        floatFiles({picture}, middle);
        whenExposed(QStringLiteral("float"), [] {
            return openFloatPanels().isEmpty() ? nullptr : static_cast<QWidget*>(openFloatPanels().first());
        }, pillPanel);
    };
    const auto previewWindow = [&preview, picture, floatPanel] {
        preview.resize(640, 480);
        preview.setItems({picture});
        preview.setCurrentIndex(0);
        preview.show();
        whenExposed(QStringLiteral("preview"), [&preview] { return &preview; }, floatPanel);
    };
    const auto settingsWindow = [&settings, previewWindow] {
        settings.show(SettingsTab::general);
        whenExposed(QStringLiteral("settings"), [&settings] { return settings.window(); }, previewWindow);
    };
    QTimer::singleShot(0, [&] {
        const QList<OperationDescriptor>& catalogue = ToolRegistry::shared().catalogue();
        const auto crop = std::find_if(catalogue.begin(), catalogue.end(), [](const OperationDescriptor& d) {
            return d.id == QLatin1String("tool.image.crop");
        });
        if (crop == catalogue.end() || !crop->behavior.editor) {
            say(QStringLiteral("no crop editor"));
            QApplication::exit(1);
            return;
        }
        openEditor(*crop->behavior.editor, WheelEntry::forOperation(*crop, crop->wheel),
                   {fileInfoForURL(picture)}, middle);
        whenExposed(QStringLiteral("editor"), [] {
            const QList<EditorWindow*> open = openEditorWindows();
            return open.isEmpty() ? nullptr : static_cast<QWidget*>(open.first());
        }, settingsWindow);
    });
    return app.exec();
}
