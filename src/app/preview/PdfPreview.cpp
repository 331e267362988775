#include "app/preview/PdfPreview.h"

#include "catalogue/isolated/IsolatedPdfReading.h"
#include "model/errors/CancellationError.h"
#include "model/Log.h"
#include "platform/processes/ThreadCall.h"

#include <QPaintEvent>
#include <QPointer>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv {

namespace {

constexpr int margin = 6;
constexpr int spacing = 6;
// Pages drawn at once, and beyond those in sight.
constexpr int pagesAtOnce = 2;
constexpr int pagesAround = 1;
// Pictures further from sight are let go: a long document is never held whole.
constexpr int pagesKept = 3;
constexpr QSizeF letter(612, 792);
// The window waits this long at most for the file's first page; a worker that hangs is killed.
constexpr std::chrono::seconds outlineLimit(5);

std::optional<IsolatedPdfReading::Outline> outlineWithin(const QString& path, std::chrono::milliseconds limit)
{
    std::stop_source deadline;
    std::jthread timer([&deadline, limit](std::stop_token done) {
        std::mutex lock;
        std::condition_variable_any wake;
        std::unique_lock locker(lock);
        wake.wait_for(locker, done, limit, [] { return false; });
        if (!done.stop_requested())
            deadline.request_stop();
    });
    try {
        return IsolatedPdfReading::outline(path, std::nullopt, 1, deadline.get_token(),
                                           IsolatedPdfReading::Damage::drawn);
    } catch (const std::exception& error) {
        qCInfo(appLog) << "No preview of" << path << ":" << error.what();
        return std::nullopt;
    }
}

} // namespace

PdfPreview::PdfPreview(const QString& path, QWidget* parent) : QAbstractScrollArea(parent), m_path(path)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(24);
    if (const std::optional<IsolatedPdfReading::Outline> outline = outlineWithin(path, outlineLimit)) {
        if (!outline->pageSizes.isEmpty() && !outline->pageSizes.first().isEmpty())
            m_firstPage = outline->pageSizes.first();
        m_pages.resize(outline->pageCount);
        for (Page& page : m_pages)
            page.size = m_firstPage.value_or(letter);
        if (outline->pageCount > 1) {
            // Until the other pages' sizes come, they take the first one's. The view may be gone
            // when they come: it is only looked at on the main thread.
            runInBackground([self = QPointer<PdfPreview>(this), path, stop = m_stop.get_token()] {
                try {
                    const QList<QSizeF> sizes =
                        IsolatedPdfReading::outline(path, std::nullopt, IsolatedPdfReading::everyPage, stop,
                                                    IsolatedPdfReading::Damage::drawn)
                            .pageSizes;
                    postToMainThread([self, sizes] {
                        if (self)
                            self->setSizes(sizes);
                    });
                } catch (const std::exception&) {
                    // The pictures' own shapes correct the guesses.
                }
            });
        }
    }
    layOut();
}

PdfPreview::~PdfPreview()
{
    m_stop.request_stop();
}

bool PdfPreview::isDrawn(int index) const
{
    return index >= 0 && index < m_pages.size() && !m_pages[index].picture.isNull()
        && m_pages[index].drawnWidth >= wantedWidth();
}

QRect PdfPreview::pageRect(int index) const
{
    if (index < 0 || index >= m_tops.size())
        return {};
    const int width = std::max(viewport()->width() - 2 * margin, 1);
    const QSizeF size = m_pages[index].size.isEmpty() ? letter : m_pages[index].size;
    return QRect(margin, m_tops[index], width, std::max(int(std::lround(width * size.height() / size.width())), 1));
}

int PdfPreview::wantedWidth() const
{
    return std::max(int(std::ceil((viewport()->width() - 2 * margin) * devicePixelRatioF())), 1);
}

void PdfPreview::layOut()
{
    m_tops.clear();
    int y = margin;
    for (int i = 0; i < m_pages.size(); ++i) {
        m_tops.append(y);
        y += pageRect(i).height() + spacing;
    }
    m_contentHeight = m_pages.isEmpty() ? 0 : y - spacing + margin;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(m_contentHeight - viewport()->height(), 0));
    viewport()->update();
    askForPages();
}

void PdfPreview::setSizes(const QList<QSizeF>& sizes)
{
    for (int i = 0; i < std::min(sizes.size(), m_pages.size()); ++i) {
        if (!sizes[i].isEmpty())
            m_pages[i].size = sizes[i];
    }
    layOut();
}

void PdfPreview::askForPages()
{
    if (m_tops.isEmpty() || !isVisible())
        return;
    const int top = verticalScrollBar()->value();
    const auto pageAt = [this](int y) {
        return int(std::max<qsizetype>(std::upper_bound(m_tops.begin(), m_tops.end(), y) - m_tops.begin() - 1, 0));
    };
    const int first = pageAt(top);
    const int last = pageAt(top + viewport()->height());
    for (int i = 0; i < m_pages.size(); ++i) {
        Page& page = m_pages[i];
        if ((i < first - pagesKept || i > last + pagesKept) && !page.picture.isNull()) {
            page.picture = QImage();
            page.drawnWidth = 0;
        }
    }
    // Those in sight first, then the next ones, then the one above.
    QList<int> order;
    for (int i = first; i <= std::min(last + pagesAround, int(m_pages.size()) - 1); ++i)
        order.append(i);
    for (int i = first - 1; i >= std::max(first - pagesAround, 0); --i)
        order.append(i);
    const int wanted = wantedWidth();
    for (int index : std::as_const(order)) {
        if (m_asking >= pagesAtOnce)
            return;
        Page& page = m_pages[index];
        // A page drawn or refused at this width is not asked for again.
        if (page.asked || page.drawnWidth >= wanted)
            continue;
        page.asked = true;
        ++m_asking;
        runInBackground([self = QPointer<PdfPreview>(this), path = m_path, index, wanted, stop = m_stop.get_token()] {
            QImage picture;
            try {
                picture = IsolatedPdfReading::page(path, std::nullopt, index, QSize(wanted, 1 << 20), stop,
                                                   IsolatedPdfReading::Damage::drawn)
                              .picture;
            } catch (const CancellationError&) {
                return;
            } catch (const std::exception& error) {
                qCInfo(appLog) << "No picture of page" << index + 1 << ":" << error.what();
            }
            postToMainThread([self, index, wanted, picture] {
                if (self)
                    self->pageArrived(index, wanted, picture);
            });
        });
    }
}

void PdfPreview::pageArrived(int index, int width, const QImage& picture)
{
    --m_asking;
    Page& page = m_pages[index];
    page.asked = false;
    page.drawnWidth = width;
    page.picture = picture;
    bool reshaped = false;
    if (!picture.isNull()) {
        // A page whose size was only guessed takes its picture's shape.
        const double shown = page.size.height() / page.size.width();
        const double drawn = double(picture.height()) / picture.width();
        if (std::abs(shown - drawn) > 0.01 * shown) {
            page.size = QSizeF(page.size.width(), page.size.width() * drawn);
            reshaped = true;
        }
    }
    if (reshaped)
        layOut();
    else
        viewport()->update(pageRect(index).translated(0, -verticalScrollBar()->value()));
    askForPages();
}

void PdfPreview::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Dark));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int top = verticalScrollBar()->value();
    const auto from = std::upper_bound(m_tops.begin(), m_tops.end(), top + event->rect().top());
    for (auto it = from == m_tops.begin() ? from : from - 1; it != m_tops.end(); ++it) {
        const int index = int(it - m_tops.begin());
        const QRect rect = pageRect(index).translated(0, -top);
        if (rect.top() > event->rect().bottom())
            break;
        const Page& page = m_pages[index];
        if (page.picture.isNull())
            painter.fillRect(rect, Qt::white);
        else
            painter.drawImage(rect, page.picture);
    }
}

void PdfPreview::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    layOut();
}

void PdfPreview::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    askForPages();
}

void PdfPreview::scrollContentsBy(int, int)
{
    viewport()->update();
    askForPages();
}

} // namespace qv
