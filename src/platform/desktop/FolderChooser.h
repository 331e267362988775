#pragma once

#include <QString>

#include <functional>

namespace qv {

// Asks the user for one folder. Tests and the development driver answer it themselves.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // startFolder may be empty. chosen gets the folder's path, on the main thread, and is never
    // called when the user cancels.
    virtual void chooseFolder(const QString& message, const QString& acceptLabel,
                              const QString& startFolder,
                              std::function<void(const QString& folder)> chosen) = 0;
};

} // namespace qv
