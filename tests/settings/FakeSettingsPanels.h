#pragma once

#include "settings/SettingsPanels.h"

#include <QStringList>

namespace qv::test {

// Answers every panel with what the test put in; nothing stands for Cancel.
class FakeSettingsPanels : public SettingsPanels {
public:
    std::optional<QString> folder;
    std::optional<QString> application;
    std::optional<QString> exportFile;
    std::optional<QString> importFile;
    bool confirm = true;
    QStringList asked;

    std::optional<QString> chooseFolder(QWidget*, const QString&) override
    {
        asked.append(QStringLiteral("folder"));
        return folder;
    }
    std::optional<QString> chooseApplication(QWidget*) override
    {
        asked.append(QStringLiteral("application"));
        return application;
    }
    std::optional<QString> chooseExportFile(QWidget*) override
    {
        asked.append(QStringLiteral("export"));
        return exportFile;
    }
    std::optional<QString> chooseImportFile(QWidget*) override
    {
        asked.append(QStringLiteral("import"));
        return importFile;
    }
    bool confirmReset(QWidget*) override
    {
        asked.append(QStringLiteral("reset"));
        return confirm;
    }
};

} // namespace qv::test
