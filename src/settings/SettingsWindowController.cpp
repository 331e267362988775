#include "settings/SettingsWindowController.h"

#include "catalogue/ToolRegistry.h"
#include "model/operations/Capabilities.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/settings/SettingsStore.h"
#include "settings/AdvancedSettingsTab.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/OutputSettingsTab.h"
#include "settings/QualitySettingsTab.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsWindow.h"
#include "settings/WheelsSettingsTab.h"

#include <QGuiApplication>
#include <QScreen>

namespace qv {

SettingsWindowController::Services SettingsWindowController::Services::system()
{
    Services services;
    services.store = &SettingsStore::shared();
    services.hotkeys = &HotkeyCenter::shared();
    services.registry = &ToolRegistry::shared();
    services.capabilities = &Capabilities::shared();
    services.engineProbes = EnginesSettingsTab::Probes::system(Capabilities::shared());
    return services;
}

SettingsWindowController::SettingsWindowController(Services services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    if (!m_services.panels) {
        m_ownPanels = std::make_unique<FileDialogSettingsPanels>();
        m_services.panels = m_ownPanels.get();
    }
    SettingsStore& store = *m_services.store;
    m_window = std::make_unique<SettingsWindow>(store);

    m_general = new GeneralSettingsTab(store, *m_services.hotkeys, GeneralSettingsTab::Services::system());
    m_window->addTab(SettingsTab::general, m_general);
    m_output = new OutputSettingsTab(store, *m_services.panels);
    m_window->addTab(SettingsTab::output, m_output);
    m_wheels = new WheelsSettingsTab(store, *m_services.registry);
    m_window->addTab(SettingsTab::wheels, m_wheels);
    m_quality = new QualitySettingsTab(store);
    m_window->addTab(SettingsTab::quality, m_quality);
    m_engines = new EnginesSettingsTab(*m_services.capabilities, m_services.engineProbes);
    m_window->addTab(SettingsTab::engines, m_engines);

    AdvancedSettingsTab::Services advanced =
        AdvancedSettingsTab::Services::system(store, *m_services.panels);
    HotkeyCenter* hotkeys = m_services.hotkeys;
    advanced.registerHotkey = [hotkeys] { hotkeys->registerHotkey(); };
    if (m_services.activeJobCount)
        advanced.activeJobCount = m_services.activeJobCount;
    if (m_services.purgeTemporaryItems)
        advanced.purgeTemporaryItems = m_services.purgeTemporaryItems;
    if (m_services.temporaryRootSize)
        advanced.temporaryRootSize = m_services.temporaryRootSize;
    m_advanced = new AdvancedSettingsTab(std::move(advanced));
    m_window->addTab(SettingsTab::advanced, m_advanced);
}

SettingsWindowController::~SettingsWindowController() = default;

SettingsWindowController& SettingsWindowController::shared()
{
    // Kept for the life of the process, like the window it owns.
    static SettingsWindowController* controller = new SettingsWindowController(Services::system());
    return *controller;
}

void SettingsWindowController::show(std::optional<SettingsTab> tab)
{
    SettingsWindow* window = m_window.get();
    if (tab)
        window->selectTab(*tab);
    if (!window->isVisible()) {
        QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
        window->show();
    }
    window->raise();
    window->activateWindow();
}

} // namespace qv
