#include "editors/redact/RedactEditorView.h"

#include "editors/redact/RedactModel.h"
#include "editors/redact/RedactPageView.h"
#include "platform/ui/EditorButtons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

namespace qv {

namespace {

class PageScroll : public QScrollArea {
public:
    QSize sizeHint() const override { return QSize(580, 520); }
};

} // namespace

RedactEditorView::RedactEditorView(RedactModel* model, RedactPageView* pages, std::function<void()> cancel,
                                   std::function<void()> apply, QWidget* parent)
    : QWidget(parent), m_model(model), m_pages(pages)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    auto* hint = new QLabel(QStringLiteral("Drag over text or pictures to black them out."));
    hint->setForegroundRole(QPalette::PlaceholderText);
    m_undo = new QPushButton(QStringLiteral("Undo"));
    m_undo->setAutoDefault(false);
    m_undo->setToolTip(QStringLiteral("Undo (Ctrl+Z)"));
    connect(m_undo, &QPushButton::clicked, model, &RedactModel::undo);
    auto* shortcut = new QShortcut(QKeySequence::Undo, this);
    connect(shortcut, &QShortcut::activated, model, &RedactModel::undo);
    header->addWidget(hint);
    header->addStretch(1);
    header->addWidget(m_undo);
    layout->addLayout(header);

    m_scroll = new PageScroll;
    m_scroll->setWidget(pages);
    m_scroll->setWidgetResizable(true);
    m_scroll->setMinimumSize(560, 520);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_scroll, 1);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &RedactEditorView::visiblePagesChanged);
    connect(pages, &RedactPageView::layoutChanged, this, &RedactEditorView::visiblePagesChanged);

    auto* noteRow = new QHBoxLayout;
    auto* note = new QLabel(QStringLiteral("Pages with boxes become images, so the covered content is really gone."));
    QFont small = note->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    note->setFont(small);
    note->setForegroundRole(QPalette::PlaceholderText);
    noteRow->addWidget(note);
    noteRow->addStretch(1);
    layout->addLayout(noteRow);

    m_buttons = new EditorButtons(RedactModel::actionTitle(0), std::move(cancel), std::move(apply));
    layout->addWidget(m_buttons);
    connect(model, &RedactModel::changed, this, &RedactEditorView::refresh);
    refresh();
}

QList<int> RedactEditorView::visiblePages() const
{
    const QRect area(m_pages->mapFrom(m_scroll->viewport(), QPoint(0, 0)), m_scroll->viewport()->size());
    return m_pages->pagesIn(area);
}

void RedactEditorView::refresh()
{
    const int count = m_model->count();
    m_undo->setEnabled(count > 0);
    m_buttons->actionButton()->setText(RedactModel::actionTitle(count));
    m_buttons->setActionEnabled(count > 0);
}

} // namespace qv
