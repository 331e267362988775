#include "Commands.h"
#include "PngFile.h"

#include "catalogue/ToolRegistry.h"
#include "model/operations/Capabilities.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/desktop/HotkeyGrabber.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsWindow.h"
#include "settings/SettingsWindowController.h"

#include <QEventLoop>
#include <QImage>
#include <QTextStream>
#include <QTimer>

namespace qv::dev {

namespace {

int renderSettingsUsage()
{
    QTextStream(stderr) << "usage: quorvenda-dev render-settings [--tab NAME] --out FILE.png\n";
    return 2;
}

// This process holds no hot key (the running Quorvenda does): its picture shows the stored
// shortcut as taken.
class PictureGrabber : public HotkeyGrabber {
public:
    int install() override { return 0; }
    int grab(const Shortcut&) override { return 0; }
    void ungrab() override {}
};

} // namespace

int renderSettings(const QStringList& args)
{
    QString out;
    SettingsTab tab = SettingsTab::general;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((arg == QLatin1String("--out") || arg == QLatin1String("--screenshot")) && hasValue) {
            out = args[++i];
        } else if (arg == QLatin1String("--tab") && hasValue) {
            const std::optional<SettingsTab> named = enumFromString<SettingsTab>(args[++i]);
            if (!named) {
                QTextStream(stderr) << "unknown tab: " << args[i] << '\n';
                return 2;
            }
            tab = *named;
        } else {
            return renderSettingsUsage();
        }
    }
    if (out.isEmpty())
        return renderSettingsUsage();

    SettingsStore& store = SettingsStore::shared();
    registerDefaultSettings(store);
    PictureGrabber grabber;
    HotkeyCenter hotkeys(grabber, store);
    hotkeys.registerHotkey();
    SettingsWindowController::Services services = SettingsWindowController::Services::system();
    services.hotkeys = &hotkeys;
    services.activeJobCount = [] { return 0; };
    SettingsWindowController controller(std::move(services));
    SettingsWindow* window = controller.window();
    // Laid out and shown as on screen, without a window appearing.
    window->setAttribute(Qt::WA_DontShowOnScreen);
    controller.show(tab);
    // As it looks half a second after opening: workers that answered by then are shown.
    QEventLoop loop;
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();

    QImage image(window->size(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(1);
    image.fill(window->palette().color(QPalette::Window));
    window->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    // Hiding stops the tabs' workers, FFmpeg included, before the process ends.
    window->hide();
    return writePng(image, out) ? 0 : 1;
}

} // namespace qv::dev
