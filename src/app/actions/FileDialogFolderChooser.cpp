#include "app/actions/FileDialogFolderChooser.h"

#include <QFileDialog>

namespace qv {

namespace {

void showQtDialog(const QString& message, const QString& acceptLabel, const QString& startFolder,
                  std::function<void(const QString& folder)> chosen)
{
    auto* dialog = new QFileDialog(nullptr, QStringLiteral("Move To"), startFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: with no portal, a desktop's would drop the labels.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, acceptLabel);
    dialog->setLabelText(QFileDialog::LookIn, message);
    dialog->setWindowModality(Qt::ApplicationModal);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [chosen](const QString& folder) {
        if (chosen && !folder.isEmpty())
            chosen(folder);
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

} // namespace

FileDialogFolderChooser::FileDialogFolderChooser(PortalFileChooser portal) : m_portal(std::move(portal)) {}

void FileDialogFolderChooser::chooseFolder(const QString& message, const QString& acceptLabel,
                                           const QString& startFolder,
                                           std::function<void(const QString& folder)> chosen)
{
    if (!m_portal.isAvailable()) {
        showQtDialog(message, acceptLabel, startFolder, std::move(chosen));
        return;
    }
    PortalFileChooser::Request request;
    // The portal's dialog has a title and no other words: the message is the title.
    request.title = message;
    request.acceptLabel = acceptLabel;
    request.startFolder = startFolder;
    request.folders = true;
    m_portal.choose(request, [message, acceptLabel, startFolder, chosen](const PortalFileChooser::Answer& answer) {
        if (!answer) {
            showQtDialog(message, acceptLabel, startFolder, chosen);
            return;
        }
        if (chosen && !answer->isEmpty())
            chosen(answer->constFirst());
    });
}

} // namespace qv
