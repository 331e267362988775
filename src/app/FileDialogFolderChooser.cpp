#include "app/FileDialogFolderChooser.h"

#include <QFileDialog>

namespace qv {

void FileDialogFolderChooser::chooseFolder(const QString& message, const QString& acceptLabel,
                                           const QString& startFolder,
                                           std::function<void(const QString& folder)> chosen)
{
    auto* dialog = new QFileDialog(nullptr, QStringLiteral("Move To"), startFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: a portal's or a desktop's would drop the labels.
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

} // namespace qv
