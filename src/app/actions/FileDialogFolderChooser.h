#pragma once

#include "platform/desktop/FolderChooser.h"
#include "platform/desktop/PortalFileChooser.h"

namespace qv {

// The desktop's own folder dialog through the FileChooser portal where one runs; else a
// folder-only QFileDialog that may create folders. One at a time.
class FileDialogFolderChooser : public FolderChooser {
public:
    explicit FileDialogFolderChooser(PortalFileChooser portal = PortalFileChooser());

    void chooseFolder(const QString& message, const QString& acceptLabel,
                      const QString& startFolder,
                      std::function<void(const QString& folder)> chosen) override;

private:
    PortalFileChooser m_portal;
};

} // namespace qv
