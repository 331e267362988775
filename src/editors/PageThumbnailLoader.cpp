#include "editors/PageThumbnailLoader.h"

#include "catalogue/isolated/IsolatedPdfReading.h"
#include "editors/EditorActivity.h"
#include "model/errors/CancellationError.h"
#include "model/Log.h"
#include "platform/processes/ThreadCall.h"

#include <QPointer>

#include <algorithm>

namespace qv {

PageThumbnailLoader::PageThumbnailLoader(QString path, std::optional<QString> password, int pageCount, int workers,
                                         QSize box, QObject* parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_password(std::move(password))
    , m_workers(std::max(workers, 1))
    , m_box(box)
{
    m_remaining = std::max(pageCount, 0);
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
    for (int i = 0; i < m_workers; ++i) {
        runInBackground([path = m_path, password = m_password, queue = m_queue, stop = m_stop.get_token(), self,
                         box = m_box] {
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
                    IsolatedPdfReading::Page page = IsolatedPdfReading::page(path, password, index, box, stop);
                    thumbnail = std::move(page.picture);
                    pageToPixel = page.pageToPixel;
                } catch (const CancellationError&) {
                    return;
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
