#pragma once

#include <QString>

#include <atomic>
#include <memory>

namespace qv {

// One work item's private folder, placed so that moving a result into the destination is a
// rename: inside the temporary root when that lies on the destination's filesystem, else a
// hidden ".quorvenda-work-<uuid>" folder in the destination itself, listed in the
// WorkFolderJournal so that a crash does not leave it there for good. It is live (safe from
// purges) from its creation and is removed with its contents when the object goes.
class WorkFolder {
public:
    // Throws SystemError when not even the temporary root can hold it.
    static std::shared_ptr<WorkFolder> create(const QString& destinationFolder);

    // A folder made at path, in a folder someone else looks after (a worker's in an item's
    // work folder); throws SystemError.
    static std::shared_ptr<WorkFolder> make(const QString& path);

    // Removes the folder of every WorkFolder still alive, and every live folder of the
    // temporary root: the last step of a quit. What still works in them then fails.
    static void removeAll();

    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& path() const { return m_path; }
    // Removes the folder now; later calls do nothing.
    void remove();

    static constexpr const char* hiddenPrefix = ".quorvenda-work-";

private:
    WorkFolder(QString path, bool listed);

    QString m_path;
    bool m_listed;
    int m_fd = -1; // a hidden folder's, held open
    std::atomic<bool> m_removed = false;
};

} // namespace qv
