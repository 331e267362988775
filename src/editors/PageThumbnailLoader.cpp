#include "editors/PageThumbnailLoader.h"

#include "editors/EditorActivity.h"
#include "engines/pdf/PDFDocument.h"
#include "engines/pdf/PDFRenderer.h"
#include "model/Log.h"
#include "platform/ThreadCall.h"

#include <QPointer>

#include <algorithm>

namespace qv {

PageThumbnailLoader::PageThumbnailLoader(const PDFDocument& document, int workers, QSize box, QObject* parent)
    : QObject(parent), m_box(box)
{
    PDFRenderer& renderer = document.renderer();
    for (int i = 0; i < std::max(workers, 1); ++i)
        m_renderers.push_back(std::shared_ptr<PDFRenderer>(renderer.clone()));
    m_remaining = renderer.pageCount();
    for (int i = 0; i < m_remaining; ++i)
        m_queue->pages.push_back(i);
}

PageThumbnailLoader::~PageThumbnailLoader()
{
    m_stop.request_stop();
    if (m_active)
        EditorActivity::end();
}

void PageThumbnailLoader::start()
{
    if (m_remaining == 0) {
        Q_EMIT finished();
        return;
    }
    m_active = true;
    EditorActivity::begin();
    QPointer<PageThumbnailLoader> self(this);
    for (const std::shared_ptr<PDFRenderer>& renderer : m_renderers) {
        runInBackground([renderer, queue = m_queue, stop = m_stop.get_token(), self, box = m_box] {
            while (!stop.stop_requested()) {
                int index = -1;
                {
                    const std::lock_guard lock(queue->mutex);
                    if (queue->pages.empty())
                        return;
                    index = queue->pages.front();
                    queue->pages.pop_front();
                }
                QImage thumbnail;
                QTransform pageToPixel;
                try {
                    const QSizeF page = renderer->pageSize(index);
                    const QSize pixels = page.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize();
                    thumbnail = renderer->renderToSize(index, pixels.expandedTo(QSize(1, 1)), stop, &pageToPixel);
                } catch (const std::exception& error) {
                    qCInfo(appLog) << "No thumbnail of page" << index + 1 << ":" << error.what();
                }
                if (stop.stop_requested())
                    return;
                postToMainThread([self, index, thumbnail, pageToPixel] {
                    if (self)
                        self->arrived(index, thumbnail, pageToPixel);
                });
            }
        }, -1);
    }
}

void PageThumbnailLoader::prioritise(const QList<int>& indices)
{
    const std::lock_guard lock(m_queue->mutex);
    std::deque<int>& pages = m_queue->pages;
    for (auto it = indices.crbegin(); it != indices.crend(); ++it) {
        const auto found = std::find(pages.begin(), pages.end(), *it);
        if (found == pages.end())
            continue;
        pages.erase(found);
        pages.push_front(*it);
    }
}

void PageThumbnailLoader::arrived(int index, const QImage& thumbnail, const QTransform& pageToPixel)
{
    // A page that cannot be drawn keeps its placeholder.
    if (!thumbnail.isNull())
        Q_EMIT thumbnailReady(index, thumbnail, pageToPixel);
    if (--m_remaining == 0 && m_active) {
        m_active = false;
        EditorActivity::end();
        Q_EMIT finished();
    }
}

} // namespace qv
