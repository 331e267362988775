#include "settings/SettingsPanels.h"

#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
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

// The portal's answer to the request: the chosen path, nothing when the user cancelled, or
// no answer at all when there is no portal or it failed (Qt's dialog then asks).
std::optional<std::optional<QString>> askPortal(const PortalFileChooser& portal, QWidget* parent,
                                                PortalFileChooser::Request request)
{
    if (!portal.isAvailable())
        return std::nullopt;
    QPointer<QWidget> window = parent ? parent->window() : nullptr;
    if (window) {
        request.parentWindow = PortalFileChooser::parentWindowFor(window->winId());
        // Modal as Qt's dialog is, where the portal cannot tie its dialog to ours (Wayland):
        // no second choice starts while this one waits.
        window->setEnabled(false);
    }
    const PortalFileChooser::Answer answer = portal.chooseAndWait(request);
    if (window)
        window->setEnabled(true);
    if (!answer)
        return std::nullopt;
    if (answer->isEmpty())
        return std::optional<QString>{};
    return std::optional<QString>{answer->constFirst()};
}

} // namespace

FileDialogSettingsPanels::FileDialogSettingsPanels(PortalFileChooser portal) : m_portal(std::move(portal)) {}

std::optional<QString> FileDialogSettingsPanels::chooseFolder(QWidget* parent, const QString& startFolder)
{
    PortalFileChooser::Request request;
    request.title = QStringLiteral("Choose a Folder");
    request.acceptLabel = QStringLiteral("Choose");
    request.startFolder = startFolder;
    request.folders = true;
    if (const auto answer = askPortal(m_portal, parent, request))
        return *answer;
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
    PortalFileChooser::Request request;
    request.title = QStringLiteral("Choose a Terminal");
    request.acceptLabel = QStringLiteral("Choose");
    request.startFolder = QStringLiteral("/usr/share/applications");
    request.filters = {{QStringLiteral("Applications"), {QStringLiteral("*.desktop")}},
                       {QStringLiteral("Programs"), {QStringLiteral("*")}}};
    if (const auto answer = askPortal(m_portal, parent, request))
        return *answer;
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDirectory(QStringLiteral("/usr/share/applications"));
    dialog.setNameFilters({QStringLiteral("Applications (*.desktop)"), QStringLiteral("Programs (*)")});
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    return firstFile(dialog);
}

std::optional<QString> FileDialogSettingsPanels::chooseExportFile(QWidget* parent)
{
    PortalFileChooser::Request request;
    request.title = QStringLiteral("Export Settings");
    request.startFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    request.saveName = QStringLiteral("Quorvenda Settings.json");
    request.filters = {{QStringLiteral("JSON"), {QStringLiteral("*.json")}}};
    if (const auto answer = askPortal(m_portal, parent, request)) {
        // As Qt's dialog does: a name without a suffix gets ".json".
        if (*answer && QFileInfo(**answer).suffix().isEmpty())
            return **answer + QStringLiteral(".json");
        return *answer;
    }
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
    PortalFileChooser::Request request;
    request.title = QStringLiteral("Import Settings");
    request.filters = {{QStringLiteral("JSON"), {QStringLiteral("*.json")}}};
    if (const auto answer = askPortal(m_portal, parent, request))
        return *answer;
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(jsonFilter);
    return firstFile(dialog);
}

bool FileDialogSettingsPanels::confirmReset(QWidget* parent)
{
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Quorvenda"));
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
