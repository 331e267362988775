#include "app/float/FloatPanel.h"

#include "app/preview/MediaView.h"
#include "app/preview/MovieDisplaySize.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/desktop/WindowHints.h"
#include "platform/desktop/WindowOpacity.h"
#include "platform/desktop/Workspace.h"
#include "platform/processes/ThreadCall.h"

#include <QBoxLayout>

#include <algorithm>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QPropertyAnimation>
#include <QSizeGrip>
#include <QStyle>
#include <QToolButton>

#include <cmath>

namespace qv {
namespace {

// The height of the strip that holds the close button above text content.
constexpr int closeStrip = 28;

QList<FloatPanel*>& panels()
{
    static QList<FloatPanel*> list;
    return list;
}

double screenRatio(const ScreenProvider& screens)
{
    const auto main = screens.mainScreen();
    return main && main->devicePixelRatio > 0 ? main->devicePixelRatio : 1.0;
}

// Keys and the context menu belong to the panel: its views never take the focus and defer
// their own menus (a text view's) to it.
void keepFocusOnWindow(QWidget* view)
{
    QList<QWidget*> widgets = view->findChildren<QWidget*>();
    widgets.prepend(view);
    for (QWidget* widget : widgets) {
        widget->setFocusPolicy(Qt::NoFocus);
        widget->setContextMenuPolicy(Qt::NoContextMenu);
    }
}

constexpr int fadeInMilliseconds = 180;

} // namespace

FloatPanel::FloatPanel(const QUrl& url, const ScreenProvider& screens) : m_url(url)
{
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::StrongFocus);
    setWindowTitle(url.fileName());
    setMinimumSize(floatLayout::minimumPanelSize.toSize());

    m_content = makePreviewContent(url, screenRatio(screens), this);
    keepFocusOnWindow(m_content.view);
    m_content.view->setAccessibleName("Floating " + url.fileName());
    auto* layout = new QVBoxLayout(this);
    // Text, a document or a file's name starts at the top left, where the close button is: it
    // gets a strip of its own there. Pictures and movies fill the panel under the button.
    layout->setContentsMargins(0, m_content.kind == PreviewContent::Kind::generic ? closeStrip : 0, 0, 0);
    layout->addWidget(m_content.view);

    auto* closeButton = new QToolButton(this);
    closeButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    closeButton->setAutoRaise(true);
    closeButton->setToolTip(tr("Close"));
    closeButton->setFocusPolicy(Qt::NoFocus);
    connect(closeButton, &QToolButton::clicked, this, &QWidget::close);
    m_closeButton = closeButton;
    m_sizeGrip = new QSizeGrip(this);

    m_menu = new QMenu(this);
    for (int percent : {100, 75, 50, 25}) {
        QAction* action = m_menu->addAction(QString("Opacity %1 %").arg(percent));
        connect(action, &QAction::triggered, this, [this, percent] { setOpacityPercent(percent); });
    }
    m_menu->addSeparator();
    connect(m_menu->addAction(tr("Show in File Manager")), &QAction::triggered, this,
            &FloatPanel::reveal);
    connect(m_menu->addAction(tr("Close")), &QAction::triggered, this, &QWidget::close);

    const QSize size(qRound(m_content.size.width()), qRound(m_content.size.height()));
    resize(size.expandedTo(minimumSize()));
    if (m_content.keepsAspect())
        m_aspect = QSizeF(size);
    placeOverlays();
}

FloatPanel::~FloatPanel()
{
    panels().removeAll(this);
}

PlayerProcess* FloatPanel::player() const
{
    return m_content.media ? m_content.media->player() : nullptr;
}

void FloatPanel::setAspect(std::optional<QSizeF> aspect)
{
    m_aspect = aspect;
}

void FloatPanel::setOpacityPercent(int percent)
{
    auto* animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(fadeInMilliseconds);
    animation->setEndValue(percent / 100.0);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void FloatPanel::reveal()
{
    Workspace::system().reveal({m_url});
}

void FloatPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FloatPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragOffset = event->globalPosition() - QPointF(pos());
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void FloatPanel::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragOffset && (event->buttons() & Qt::LeftButton)) {
        move((event->globalPosition() - *m_dragOffset).toPoint());
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void FloatPanel::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

void FloatPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    // In a movie or a sound the double click belongs to the player.
    if (event->button() == Qt::LeftButton && !m_content.media) {
        close();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void FloatPanel::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::AltModifier) {
        // Qt turns Alt with the wheel into a horizontal scroll; either axis counts. One notch
        // (120) is ten steps of one percent.
        const QPoint angle = event->angleDelta();
        const int delta = angle.y() != 0 ? angle.y() : angle.x();
        if (windowOpacityWorks())
            setWindowOpacity(scrolledOpacity(windowOpacity(), delta / 12.0));
        event->accept();
        return;
    }
    QWidget::wheelEvent(event);
}

void FloatPanel::contextMenuEvent(QContextMenuEvent* event)
{
    m_menu->popup(event->globalPos());
}

void FloatPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeOverlays();
    if (!m_aspect || m_fitting || m_aspect->isEmpty())
        return;
    // The width leads; the height follows the kept proportion.
    const int wanted = qRound(width() * m_aspect->height() / m_aspect->width());
    if (std::abs(wanted - height()) > 1) {
        m_fitting = true;
        resize(width(), std::max(wanted, minimumHeight()));
        m_fitting = false;
    }
}

void FloatPanel::closeEvent(QCloseEvent* event)
{
    if (m_content.media)
        m_content.media->stop();
    panels().removeAll(this);
    event->accept();
    deleteLater();
}

void FloatPanel::placeOverlays()
{
    m_closeButton->adjustSize();
    m_closeButton->move(4, 4);
    m_closeButton->raise();
    m_sizeGrip->adjustSize();
    m_sizeGrip->move(width() - m_sizeGrip->width(), height() - m_sizeGrip->height());
    m_sizeGrip->raise();
}

void floatFiles(const QList<QUrl>& urls, QPointF point)
{
    floatFiles(urls, point, ScreenProvider::system());
}

void floatFiles(const QList<QUrl>& urls, QPointF point, const ScreenProvider& screens)
{
    const int count = std::min<int>(urls.size(), floatLayout::maxPanels);
    // Panels still open from earlier Float actions: a new one never lands exactly on one of
    // them, it goes on down the cascade.
    QList<QPoint> taken;
    for (const FloatPanel* open : std::as_const(panels()))
        taken.append(open->pos());
    int step = 0;
    for (int i = 0; i < count; ++i) {
        auto* panel = new FloatPanel(urls[i], screens);
        const QSizeF size = panel->size();
        QRectF frame;
        for (int tries = 0; tries <= floatLayout::maxPanels * 4; ++tries, ++step) {
            frame = flipY(QRectF(floatPanelOrigin(point, size, step, screens), size), screens.primaryHeight());
            const QPoint at(qRound(frame.x()), qRound(frame.y()));
            const bool onAnother = std::any_of(taken.begin(), taken.end(), [&at](const QPoint& other) {
                return (other - at).manhattanLength() < floatLayout::cascadeStep / 2;
            });
            if (!onAnother)
                break;
        }
        ++step;
        taken.append(QPoint(qRound(frame.x()), qRound(frame.y())));
        panel->move(qRound(frame.x()), qRound(frame.y()));
        panels().append(panel);
        if (panel->kind() == PreviewContent::Kind::video)
            adjustToVideoSize(panel, screens);
        WindowHints::system().keepOnAllDesktops(panel->winId());
        if (windowOpacityWorks())
            panel->setWindowOpacity(0);
        panel->show();
        panel->raise();
        panel->setOpacityPercent(100);
    }
}

const QList<FloatPanel*>& openFloatPanels()
{
    return panels();
}

void adjustToVideoSize(FloatPanel* panel, const ScreenProvider& screens)
{
    const QString path = panel->url().toLocalFile();
    const double primaryHeight = screens.primaryHeight();
    QPointer<FloatPanel> guarded(panel);
    runInBackground([path, primaryHeight, guarded] {
        const auto movie = movieDisplaySize(path);
        if (!movie)
            return;
        postToMainThread([guarded, movie, primaryHeight] {
            if (!guarded)
                return;
            const QRectF current = flipY(QRectF(guarded->geometry()), primaryHeight);
            const auto fitted = movieFittedFrame(current, *movie);
            if (!fitted)
                return;
            const QRectF target = flipY(*fitted, primaryHeight);
            // The proportion is kept from the end: the frames in between have others.
            guarded->setAspect(std::nullopt);
            auto* animation = new QPropertyAnimation(guarded.data(), "geometry", guarded.data());
            animation->setDuration(200);
            animation->setEndValue(target.toRect());
            QObject::connect(animation, &QAbstractAnimation::finished, guarded.data(),
                             [panel = guarded.data(), movie] { panel->setAspect(*movie); });
            animation->start(QAbstractAnimation::DeleteWhenStopped);
        });
    });
}

} // namespace qv
