#include "settings/SettingsWindow.h"

#include "graphics/SymbolTable.h"
#include "platform/desktop/ReduceMotion.h"
#include "platform/settings/SettingsStore.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace qv {

SettingsWindow::SettingsWindow(SettingsStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_store(store)
    , m_toolBar(new QToolBar(this))
    , m_group(new QActionGroup(this))
    , m_stack(new QStackedWidget(this))
{
    setWindowTitle(QStringLiteral("Quorvenda Settings"));
    setObjectName(QStringLiteral("QuorvendaSettings"));
    // Not resizable: no maximise button, a fixed size.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(24, 24));
    layout->addWidget(m_toolBar, 0, Qt::AlignHCenter);
    layout->addWidget(m_stack, 1);
    m_group->setExclusive(true);
    setFixedWidth(windowWidth);
}

QString SettingsWindow::label(SettingsTab tab)
{
    const QString name = toString(tab);
    return name.left(1).toUpper() + name.mid(1);
}

QString SettingsWindow::symbol(SettingsTab tab)
{
    switch (tab) {
    case SettingsTab::general: return QStringLiteral("gearshape");
    case SettingsTab::output: return QStringLiteral("square.and.arrow.down");
    case SettingsTab::wheels: return QStringLiteral("circle.circle");
    case SettingsTab::quality: return QStringLiteral("slider.horizontal.3");
    case SettingsTab::engines: return QStringLiteral("shippingbox");
    case SettingsTab::advanced: return QStringLiteral("wrench.and.screwdriver");
    }
    return QString();
}

QString SettingsWindow::geometryKey()
{
    return QStringLiteral("window.QuorvendaSettings");
}

void SettingsWindow::addTab(SettingsTab tab, QWidget* page)
{
    const auto index = static_cast<std::size_t>(tab);
    auto* scroll = new QScrollArea(m_stack);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(page);
    m_stack->insertWidget(int(index), scroll);
    m_pages[index] = page;
    // A row that comes or goes (the folder row, a longer list) changes the height the tab asks.
    page->installEventFilter(this);
    QAction* action = m_toolBar->addAction(symbolIcon(symbol(tab)), label(tab));
    action->setCheckable(true);
    action->setData(toString(tab));
    action->setToolTip(label(tab));
    m_group->addAction(action);
    m_actions[index] = action;
    connect(action, &QAction::triggered, this, [this, tab] { selectTab(tab); });
    if (tab == m_current) {
        action->setChecked(true);
        m_stack->setCurrentWidget(scroll);
        fitToTab();
    }
}

QWidget* SettingsWindow::page(SettingsTab tab) const
{
    return m_pages[static_cast<std::size_t>(tab)];
}

QAction* SettingsWindow::tabAction(SettingsTab tab) const
{
    return m_actions[static_cast<std::size_t>(tab)];
}

void SettingsWindow::selectTab(SettingsTab tab)
{
    const auto index = static_cast<std::size_t>(tab);
    if (!m_pages[index])
        return;
    if (QAction* action = m_actions[index])
        action->setChecked(true);
    if (tab == m_current && m_stack->currentIndex() == int(index))
        return;
    QWidget* from = isVisible() ? m_stack->currentWidget() : nullptr;
    m_current = tab;
    m_stack->setCurrentIndex(int(index));
    fitToTab();
    if (from && !reduceMotion())
        crossFade(from);
    Q_EMIT tabChanged(tab);
}

void SettingsWindow::fitToTab()
{
    // One height for every tab, the tallest's: a window that jumps at each tab is hard to use.
    int tallest = 0;
    for (QWidget* page : m_pages) {
        if (page)
            tallest = std::max(tallest, page->sizeHint().height());
    }
    if (tallest == 0)
        return;
    const int bar = m_toolBar->sizeHint().height();
    const int content = std::clamp(tallest, minimumContentHeight, maximumWindowHeight - bar);
    const QSize size(windowWidth, bar + content);
    if (size != this->size() || minimumSize() != maximumSize())
        setFixedSize(size);
}

void SettingsWindow::crossFade(QWidget* from)
{
    // The old page's picture fades out over the new one.
    auto* veil = new QLabel(m_stack);
    veil->setPixmap(from->grab());
    veil->setGeometry(0, 0, m_stack->width(), m_stack->height());
    veil->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* effect = new QGraphicsOpacityEffect(veil);
    veil->setGraphicsEffect(effect);
    veil->show();
    veil->raise();
    auto* fade = new QPropertyAnimation(effect, "opacity", veil);
    fade->setDuration(180);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, veil, &QObject::deleteLater);
    fade->start();
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest
        && std::find(m_pages.begin(), m_pages.end(), watched) != m_pages.end())
        QMetaObject::invokeMethod(this, [this] { fitToTab(); }, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
}

void SettingsWindow::closeEvent(QCloseEvent* event)
{
    // Closing hides; the window and its tabs live on.
    event->accept();
    hide();
}

void SettingsWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape that no field took (an open menu, the shortcut recorder) closes, as Ctrl+W does.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsWindow::hideEvent(QHideEvent* event)
{
    const QRect frame = geometry();
    m_store.setValue(geometryKey(), QVariantMap{{QStringLiteral("x"), frame.x()},
                                                {QStringLiteral("y"), frame.y()},
                                                {QStringLiteral("width"), frame.width()},
                                                {QStringLiteral("height"), frame.height()}});
    QWidget::hideEvent(event);
}

} // namespace qv
