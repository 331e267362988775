#pragma once

#include "platform/FolderChooser.h"

namespace qv {

// A folder-only QFileDialog that may create folders, one at a time.
class FileDialogFolderChooser : public FolderChooser {
public:
    void chooseFolder(const QString& message, const QString& acceptLabel,
                      const QString& startFolder,
                      std::function<void(const QString& folder)> chosen) override;
};

} // namespace qv
