// The settings window's first show, and the export and import of a store with 5,000 remembered
// options against `python3 -m json.tool --sort-keys` on the same file: median of 3 runs each.
//   bench_settings [--options N]
// Limits: first show under 200 ms; export and import each within 2x the tool.

#include "catalogue/SystemServices.h"
#include "catalogue/ToolRegistry.h"
#include "model/operations/Capabilities.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/desktop/HotkeyGrabber.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsTransfer.h"
#include "settings/SettingsWindow.h"
#include "settings/SettingsWindowController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qv;

namespace {

class QuietGrabber : public HotkeyGrabber {
public:
    int install() override { return 0; }
    int grab(const Shortcut&) override { return 0; }
    void ungrab() override {}
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QByteArray rememberedOptions(int i)
{
    return QStringLiteral("{\"quality\":0.%1,\"outputFormat\":\"webp\",\"maxDimension\":%2,"
                          "\"stripMetadata\":true,\"pages\":\"1-%3\"}")
        .arg(i % 100).arg(1000 + i).arg(i).toUtf8();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installSystemServices();
    int options = 5000;
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--options")); at >= 0 && at + 1 < args.size())
        options = args[at + 1].toInt();

    SettingsStore store{QString()};
    registerDefaultSettings(store);

    // First show: built, laid out and painted once.
    QElapsedTimer timer;
    timer.start();
    QuietGrabber grabber;
    HotkeyCenter hotkeys(grabber, store);
    SettingsWindowController::Services services;
    services.store = &store;
    services.hotkeys = &hotkeys;
    services.registry = &ToolRegistry::shared();
    services.capabilities = &Capabilities::shared();
    services.engineProbes = EnginesSettingsTab::Probes::system(Capabilities::shared());
    services.activeJobCount = [] { return 0; };
    SettingsWindowController controller(std::move(services));
    controller.window()->setAttribute(Qt::WA_DontShowOnScreen);
    controller.show();
    controller.window()->grab();
    const double firstShow = timer.nsecsElapsed() / 1e6;
    controller.window()->hide();
    std::printf("| settings window, first show | %.1f ms | - | - | ≤ 200 ms | %s |\n", firstShow,
                firstShow <= 200 ? "held" : "missed");

    for (int i = 0; i < options; ++i)
        store.setData(QStringLiteral("quorvenda.options.tool.bench.op%1").arg(i), rememberedOptions(i));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Quorvenda Settings.json"));
    std::vector<double> exports, imports, tool;
    for (int round = 0; round < 3; ++round) {
        timer.restart();
        if (!exportSettingsFile(store, file).ok)
            return 1;
        exports.push_back(timer.nsecsElapsed() / 1e6);

        SettingsStore into{QString()};
        timer.restart();
        const SettingsTransferResult imported = importSettingsFile(into, file);
        imports.push_back(timer.nsecsElapsed() / 1e6);
        if (!imported.ok)
            return 1;

        timer.restart();
        const int status = QProcess::execute(QStringLiteral("python3"),
            {QStringLiteral("-m"), QStringLiteral("json.tool"), QStringLiteral("--sort-keys"), file,
             dir.filePath(QStringLiteral("tool.json"))});
        tool.push_back(timer.nsecsElapsed() / 1e6);
        if (status != 0)
            return 1;
    }
    const double toolMs = median(tool);
    const auto row = [&](const char* what, double ms) {
        std::printf("| %s settings with %d remembered options | %.1f ms | python3 -m json.tool %.1f ms | %.2f | 2 | %s |\n",
                    what, options, ms, toolMs, ms / toolMs, ms <= 2 * toolMs ? "held" : "missed");
    };
    row("export", median(exports));
    row("import", median(imports));
    return 0;
}
