#include "editors/pages/PagesEditorView.h"

#include "editors/pages/PageGrid.h"
#include "editors/pages/PagesModel.h"
#include "platform/ui/EditorButtons.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace qv {

namespace {

// A scroll area that asks for the grid's ideal height.
class GridScroll : public QScrollArea {
public:
    GridScroll(int idealHeight) : m_ideal(idealHeight) {}
    QSize sizeHint() const override { return QSize(560, m_ideal); }

private:
    int m_ideal;
};

// Return in the range field selects the pages rather than pressing the window's action button.
class ReturnTaker : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                event->accept();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int PagesEditorView::idealGridHeight(int pageCount)
{
    if (pageCount <= 0)
        return 184;
    const int rows = (pageCount + 3) / 4;
    return std::min(rows, 3) * 176 + 8;
}

PagesEditorView::PagesEditorView(PagesModel* model, std::function<void()> cancel, std::function<void()> apply,
                                 QWidget* parent)
    : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    if (model->isExtract()) {
        auto* label = new QLabel(QStringLiteral("Pages"));
        m_range = new QLineEdit;
        m_range->setPlaceholderText(QStringLiteral("e.g. 1-3, 7"));
        m_range->setAccessibleName(QStringLiteral("Pages"));
        m_range->setFixedWidth(180);
        label->setBuddy(m_range);
        m_range->installEventFilter(new ReturnTaker(m_range));
        connect(m_range, &QLineEdit::textChanged, this, [model](const QString& text) { model->setRangeText(text); });
        connect(m_range, &QLineEdit::returnPressed, model, &PagesModel::selectFromRangeText);
        auto* select = new QPushButton(QStringLiteral("Select"));
        auto* all = new QPushButton(QStringLiteral("All"));
        auto* none = new QPushButton(QStringLiteral("None"));
        for (QPushButton* button : {select, all, none})
            button->setAutoDefault(false);
        connect(select, &QPushButton::clicked, model, &PagesModel::selectFromRangeText);
        connect(all, &QPushButton::clicked, model, [model] { model->setAllSelected(true); });
        connect(none, &QPushButton::clicked, model, [model] { model->setAllSelected(false); });
        m_count = new QLabel;
        m_count->setForegroundRole(QPalette::PlaceholderText);
        header->addWidget(label);
        header->addWidget(m_range);
        header->addWidget(select);
        header->addWidget(all);
        header->addWidget(none);
        header->addStretch(1);
        header->addWidget(m_count);
    } else {
        auto* hint = new QLabel(QStringLiteral("Drag pages into the order you want."));
        hint->setForegroundRole(QPalette::PlaceholderText);
        auto* reverse = new QPushButton(QStringLiteral("Reverse"));
        m_restore = new QPushButton(QStringLiteral("Restore"));
        for (QPushButton* button : {reverse, m_restore})
            button->setAutoDefault(false);
        connect(reverse, &QPushButton::clicked, model, &PagesModel::reverse);
        connect(m_restore, &QPushButton::clicked, model, &PagesModel::restoreOrder);
        header->addWidget(hint);
        header->addStretch(1);
        header->addWidget(reverse);
        header->addWidget(m_restore);
    }
    layout->addLayout(header);

    m_grid = new PageGrid(model);
    m_scroll = new GridScroll(idealGridHeight(model->pageCount()));
    m_scroll->setWidget(m_grid);
    m_scroll->setWidgetResizable(true);
    m_scroll->setMinimumSize(560, 184);
    m_scroll->setFrameShape(QFrame::NoFrame);
    layout->addWidget(m_scroll, 1);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &PagesEditorView::visiblePagesChanged);
    connect(m_grid, &PageGrid::visibleAreaMayHaveChanged, this, &PagesEditorView::visiblePagesChanged);

    m_buttons = new EditorButtons(model->isExtract() ? QStringLiteral("Extract") : QStringLiteral("Save Copy"),
                                  std::move(cancel), std::move(apply));
    layout->addWidget(m_buttons);

    connect(model, &PagesModel::changed, this, &PagesEditorView::refresh);
    refresh();
}

QList<int> PagesEditorView::visiblePages() const
{
    const QRect area(m_grid->mapFrom(m_scroll->viewport(), QPoint(0, 0)), m_scroll->viewport()->size());
    QList<int> indices;
    for (int position : m_grid->positionsIn(area))
        indices.append(m_model->pages()[position].index);
    return indices;
}

void PagesEditorView::refresh()
{
    if (m_model->isExtract()) {
        m_count->setText(QStringLiteral("%1 of %2 selected").arg(m_model->selectedCount()).arg(m_model->pageCount()));
        m_buttons->setActionEnabled(m_model->selectedCount() != 0);
    } else {
        m_restore->setEnabled(m_model->isReordered());
        m_buttons->setActionEnabled(m_model->isReordered());
    }
}

} // namespace qv
