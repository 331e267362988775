#include "settings/SettingsPanels.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

namespace qv {

namespace {

const QString jsonFilter = QStringLiteral("JSON (*.json)");

std::optional<QString> firstFile(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

std::optional<QString> FileDialogSettingsPanels::chooseFolder(QWidget* parent, const QString& startFolder)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    if (!startFolder.isEmpty())
        dialog.setDirectory(startFolder);
    return firstFile(dialog);
}

std::optional<QString> FileDialogSettingsPanels::chooseApplication(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDirectory(QStringLiteral("/usr/share/applications"));
    dialog.setNameFilters({QStringLiteral("Applications (*.desktop)"), QStringLiteral("Programs (*)")});
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    return firstFile(dialog);
}

std::optional<QString> FileDialogSettingsPanels::chooseExportFile(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(jsonFilter);
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    dialog.selectFile(QStringLiteral("Quorvenda Settings.json"));
    return firstFile(dialog);
}

std::optional<QString> FileDialogSettingsPanels::chooseImportFile(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(jsonFilter);
    return firstFile(dialog);
}

bool FileDialogSettingsPanels::confirmReset(QWidget* parent)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("Reset all Quorvenda settings?"));
    box.setInformativeText(QStringLiteral(
        "Trigger keys, wheels, quality presets and output options go back to their defaults."));
    QPushButton* reset = box.addButton(QStringLiteral("Reset"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == reset;
}

} // namespace qv
