#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QTransform>

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace qv {

// Renders pictures of a PDF's pages fitted into a box (thumbnails: 220 x 280), `workers` pages
// at once, each in a worker process while isolation is on (IsolatedPdfReading); pages asked for
// first come first, and each arrives on the main thread as it is done. Stops when destroyed,
// killing the workers still drawing.
class PageThumbnailLoader : public QObject {
    Q_OBJECT
public:
    static constexpr int thumbnailWidth = 220;
    static constexpr int thumbnailHeight = 280;

    PageThumbnailLoader(QString path, std::optional<QString> password, int pageCount, int workers,
                        QSize box = {thumbnailWidth, thumbnailHeight}, QObject* parent = nullptr);
    ~PageThumbnailLoader() override;

    void start();
    // Moves these pages (indices from 0) to the head of the queue, in this order.
    void prioritise(const QList<int>& indices);
    bool isDone() const { return m_remaining == 0; }

Q_SIGNALS:
    // pageToPixel maps the page's own space (points, origin at the lower left of its media box,
    // before its rotation) to the picture's pixels.
    void thumbnailReady(int index, const QImage& thumbnail, const QTransform& pageToPixel);
    void finished();

private:
    struct Queue {
        std::mutex mutex;
        std::deque<int> pages;
    };
    void arrived(int index, const QImage& thumbnail, const QTransform& pageToPixel);

    std::shared_ptr<Queue> m_queue = std::make_shared<Queue>();
    QString m_path;
    std::optional<QString> m_password;
    int m_workers;
    std::stop_source m_stop;
    QSize m_box;
    int m_remaining = 0;
    bool m_active = false;
};

} // namespace qv
