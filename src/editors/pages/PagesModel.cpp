#include "editors/pages/PagesModel.h"

#include "jobs/PageRanges.h"

#include <algorithm>

namespace qv {

PagesModel::PagesModel(int pageCount, bool extract, QObject* parent) : QObject(parent), m_extract(extract)
{
    for (int i = 0; i < pageCount; ++i)
        m_pages.append(Page{i, {}, false});
}

std::optional<int> PagesModel::position(int index) const
{
    for (int i = 0; i < m_pages.size(); ++i)
        if (m_pages[i].index == index)
            return i;
    return std::nullopt;
}

bool PagesModel::isReordered() const
{
    for (int i = 0; i < m_pages.size(); ++i)
        if (m_pages[i].index != i)
            return true;
    return false;
}

int PagesModel::selectedCount() const
{
    return int(std::count_if(m_pages.begin(), m_pages.end(), [](const Page& page) { return page.selected; }));
}

void PagesModel::setThumbnail(int index, const QImage& thumbnail)
{
    if (const std::optional<int> at = position(index)) {
        m_pages[*at].thumbnail = thumbnail;
        Q_EMIT changed();
    }
}

void PagesModel::toggleSelection(int index)
{
    if (!m_extract)
        return;
    if (const std::optional<int> at = position(index)) {
        m_pages[*at].selected = !m_pages[*at].selected;
        Q_EMIT changed();
    }
}

void PagesModel::selectFromRangeText()
{
    const QList<PageRange> ranges = parsePageRanges(m_rangeText);
    for (Page& page : m_pages)
        page.selected = std::any_of(ranges.begin(), ranges.end(),
                                    [&](const PageRange& range) { return range.contains(page.index + 1); });
    Q_EMIT changed();
}

void PagesModel::setAllSelected(bool selected)
{
    for (Page& page : m_pages)
        page.selected = selected;
    Q_EMIT changed();
}

void PagesModel::reverse()
{
    std::reverse(m_pages.begin(), m_pages.end());
    Q_EMIT changed();
}

void PagesModel::restoreOrder()
{
    std::sort(m_pages.begin(), m_pages.end(), [](const Page& a, const Page& b) { return a.index < b.index; });
    Q_EMIT changed();
}

void PagesModel::beginDrag(int index)
{
    if (m_extract)
        return;
    m_dragging = index;
    Q_EMIT changed();
}

void PagesModel::dragEntered(int target)
{
    if (m_extract || !m_dragging || *m_dragging == target)
        return;
    const std::optional<int> from = position(*m_dragging);
    const std::optional<int> to = position(target);
    if (!from || !to)
        return;
    m_pages.move(*from, *to);
    Q_EMIT changed();
}

void PagesModel::endDrag()
{
    if (!m_dragging)
        return;
    m_dragging.reset();
    Q_EMIT changed();
}

QList<int> PagesModel::pageOrder() const
{
    QList<int> order;
    for (const Page& page : m_pages)
        if (!m_extract || page.selected)
            order.append(page.index);
    if (m_extract)
        std::sort(order.begin(), order.end());
    return order;
}

} // namespace qv
