#include "jobs/ui/MergeOrderList.h"

#include <QDropEvent>
#include <QIcon>

namespace qv {

MergeOrderList::MergeOrderList(QWidget* parent) : QListWidget(parent)
{
    setDragDropMode(QAbstractItemView::InternalMove);
    setDefaultDropAction(Qt::MoveAction);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTextElideMode(Qt::ElideMiddle);
    setUniformItemSizes(true);
}

void MergeOrderList::setFiles(const QList<FileInfo>& files)
{
    if (files == m_files)
        return;
    m_files = files;
    clear();
    const QIcon handle = QIcon::fromTheme(QStringLiteral("handle-sort"),
                                          QIcon::fromTheme(QStringLiteral("view-list-symbolic")));
    for (int i = 0; i < files.size(); ++i) {
        auto* item = new QListWidgetItem(handle, files[i].name, this);
        item->setData(Qt::UserRole, i);
        item->setToolTip(files[i].path());
        item->setSizeHint(QSize(0, 26));
    }
}

QList<FileInfo> MergeOrderList::files() const
{
    return m_files;
}

void MergeOrderList::moveFile(int from, int to)
{
    if (from < 0 || from >= count() || to < 0 || to > count())
        return;
    QListWidgetItem* item = takeItem(from);
    insertItem(to > from ? to - 1 : to, item);
    syncFromItems();
}

void MergeOrderList::dropEvent(QDropEvent* event)
{
    QListWidget::dropEvent(event);
    syncFromItems();
}

void MergeOrderList::syncFromItems()
{
    QList<FileInfo> ordered;
    for (int row = 0; row < count(); ++row)
        ordered.append(m_files[item(row)->data(Qt::UserRole).toInt()]);
    // Items keep their index into the new order.
    for (int row = 0; row < count(); ++row)
        item(row)->setData(Qt::UserRole, row);
    if (ordered == m_files)
        return;
    m_files = ordered;
    Q_EMIT orderChanged(m_files);
}

} // namespace qv
