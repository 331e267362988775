#pragma once

#include "model/files/FileInfo.h"

#include <QListWidget>

namespace qv {

// The files of a merge, reordered by dragging; one line each, cut in the middle.
class MergeOrderList : public QListWidget {
    Q_OBJECT
public:
    explicit MergeOrderList(QWidget* parent = nullptr);

    void setFiles(const QList<FileInfo>& files);
    QList<FileInfo> files() const;

    // Moves one file as a drag and drop would, the destination counted before the move.
    void moveFile(int from, int to);

Q_SIGNALS:
    void orderChanged(const QList<FileInfo>& files);

protected:
    void dropEvent(QDropEvent* event) override;

private:
    QList<FileInfo> m_files;
    void syncFromItems();
};

} // namespace qv
