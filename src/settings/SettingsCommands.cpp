#include "settings/SettingsCommands.h"

#include "model/settings/SettingsReset.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsTransfer.h"

namespace qv {

SettingsCommands::SettingsCommands(Services services) : m_services(std::move(services)) {}

std::optional<QString> SettingsCommands::exportSettings(QWidget* parent)
{
    const std::optional<QString> path = m_services.panels->chooseExportFile(parent);
    if (!path || path->isEmpty())
        return std::nullopt;
    return exportSettingsFile(*m_services.store, *path).message;
}

std::optional<QString> SettingsCommands::importSettings(QWidget* parent)
{
    const std::optional<QString> path = m_services.panels->chooseImportFile(parent);
    if (!path || path->isEmpty())
        return std::nullopt;
    const SettingsTransferResult result = importSettingsFile(*m_services.store, *path);
    if (result.ok && m_services.registerHotkey)
        m_services.registerHotkey();
    return result.message;
}

std::optional<QString> SettingsCommands::resetSettings(QWidget* parent)
{
    if (!m_services.panels->confirmReset(parent))
        return std::nullopt;
    resetAllSettings(*m_services.store);
    if (m_services.registerHotkey)
        m_services.registerHotkey();
    return QStringLiteral("Settings were reset");
}

bool SettingsCommands::isSuccess(const QString& message)
{
    return message.startsWith(QLatin1String("Exported "))
        || message.startsWith(QLatin1String("Imported "))
        || message == QLatin1String("Settings were reset");
}

double cleanUpMinimumAge(int activeJobs)
{
    return activeJobs > 0 ? 3600.0 : 0.0;
}

} // namespace qv
