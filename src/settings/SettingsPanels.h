#pragma once

#include "platform/desktop/PortalFileChooser.h"

#include <QString>

#include <optional>

class QWidget;

namespace qv {

// The questions the settings window asks the user in a dialog. Each answers nothing when the
// user cancels. Tests and the development driver answer them themselves.
class SettingsPanels {
public:
    virtual ~SettingsPanels() = default;

    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& startFolder) = 0;
    // A terminal: a .desktop file or a program.
    virtual std::optional<QString> chooseApplication(QWidget* parent) = 0;
    virtual std::optional<QString> chooseExportFile(QWidget* parent) = 0;
    virtual std::optional<QString> chooseImportFile(QWidget* parent) = 0;
    // "Reset all Quorvenda settings?"
    virtual bool confirmReset(QWidget* parent) = 0;
};

// The panels as modal dialogs; files and folders are chosen in the desktop's own dialog
// through the FileChooser portal where one runs, else in Qt's.
class FileDialogSettingsPanels : public SettingsPanels {
public:
    explicit FileDialogSettingsPanels(PortalFileChooser portal = PortalFileChooser());

    std::optional<QString> chooseFolder(QWidget* parent, const QString& startFolder) override;
    std::optional<QString> chooseApplication(QWidget* parent) override;
    std::optional<QString> chooseExportFile(QWidget* parent) override;
    std::optional<QString> chooseImportFile(QWidget* parent) override;
    bool confirmReset(QWidget* parent) override;

private:
    PortalFileChooser m_portal;
};

} // namespace qv
