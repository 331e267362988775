#include "editors/photo/PhotoEditorView.h"

#include "editors/EditorActivity.h"
#include "editors/photo/PhotoAdjustTab.h"
#include "editors/photo/PhotoCropTab.h"
#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoExportTab.h"
#include "editors/photo/PhotoPreview.h"
#include "editors/photo/PhotoSizeTab.h"
#include "platform/desktop/ReduceMotion.h"
#include "platform/ui/EditorButtons.h"
#include "widgets/SegmentedPicker.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace qv {

namespace {

constexpr PhotoEditorModel::Tab allTabs[] = {PhotoEditorModel::Tab::adjust, PhotoEditorModel::Tab::crop,
                                             PhotoEditorModel::Tab::size, PhotoEditorModel::Tab::exportTab};

} // namespace

PhotoEditorView::PhotoEditorView(PhotoEditorModel* model, std::function<void()> cancel, std::function<void()> apply,
                                 QWidget* parent)
    : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(14);

    auto* mainRow = new QHBoxLayout;
    mainRow->setSpacing(18);
    m_preview = new PhotoPreview(model);
    connect(m_preview, &PhotoPreview::cropEdited, model, &PhotoEditorModel::setCrop);
    mainRow->addWidget(m_preview, 0, Qt::AlignTop);

    auto* column = new QWidget;
    column->setFixedSize(290, 440);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(16);
    QList<OptionChoice> choices;
    for (PhotoEditorModel::Tab tab : allTabs)
        choices.append({PhotoEditorModel::title(tab), QVariant::fromValue(int(tab))});
    m_tabs = new SegmentedPicker(choices);
    m_tabs->setAccessibleName(QStringLiteral("Section"));
    columnLayout->addWidget(m_tabs);
    m_pages = new QStackedWidget;
    m_adjust = new PhotoAdjustTab(model);
    m_pages->addWidget(m_adjust);
    m_crop = new PhotoCropTab(model);
    m_crop->setAnimator([this](const std::function<void()>& change) { m_preview->withSpring(change); });
    connect(m_crop, &PhotoCropTab::turnRequested, this, &PhotoEditorView::turnPicture);
    connect(m_crop, &PhotoCropTab::mirrorRequested, this, &PhotoEditorView::mirrorPicture);
    m_pages->addWidget(m_crop);
    m_size = new PhotoSizeTab(model);
    m_size->setAnimator([this](const std::function<void()>& change) { m_preview->withSpring(change); });
    m_pages->addWidget(m_size);
    m_pages->addWidget(new PhotoExportTab(model));
    columnLayout->addWidget(m_pages);
    columnLayout->addStretch(1);
    mainRow->addWidget(column, 0, Qt::AlignTop);
    layout->addLayout(mainRow);
    connect(m_tabs, &SegmentedPicker::activated, this,
            [this](const QVariant& value) { m_model->setTab(PhotoEditorModel::Tab(value.toInt())); });

    auto* bar = new QHBoxLayout;
    bar->setSpacing(10);
    m_compare = new QPushButton(QStringLiteral("Compare"));
    m_compare->setToolTip(QStringLiteral("Hold to see the original"));
    m_compare->setFocusPolicy(Qt::NoFocus);
    m_compare->setAutoDefault(false);
    connect(m_compare, &QPushButton::pressed, this, [this] { m_model->setComparing(true); });
    connect(m_compare, &QPushButton::released, this, [this] { m_model->setComparing(false); });
    bar->addWidget(m_compare);
    m_resetAll = new QPushButton(QStringLiteral("Reset All"));
    m_resetAll->setFocusPolicy(Qt::NoFocus);
    m_resetAll->setAutoDefault(false);
    connect(m_resetAll, &QPushButton::clicked, this, [this] {
        commitTypedField();
        m_preview->withSpring([this] { m_model->resetAll(); });
    });
    bar->addWidget(m_resetAll);
    m_buttons = new EditorButtons(QStringLiteral("Save Copy"), std::move(cancel), [this, apply = std::move(apply)] {
        commitTypedField();
        if (apply)
            apply();
    });
    bar->addWidget(m_buttons, 1);
    layout->addLayout(bar);

    connect(m_model, &PhotoEditorModel::changed, this, &PhotoEditorView::refresh);
    refresh();
}

PhotoEditorView::~PhotoEditorView()
{
    if (m_lifting)
        EditorActivity::end();
}

void PhotoEditorView::turnPicture(bool clockwise)
{
    m_model->rotateQuarter(clockwise);
    if (reduceMotion())
        return;
    m_preview->springTurn(clockwise ? -90 : 90);
}

void PhotoEditorView::mirrorPicture(bool horizontal)
{
    m_model->flip(horizontal);
    if (reduceMotion())
        return;
    m_preview->springMirror(horizontal ? QSizeF(-1, 1) : QSizeF(1, -1));
}

void PhotoEditorView::refresh()
{
    if (m_model->findingSubject() != m_lifting) {
        m_lifting = m_model->findingSubject();
        if (m_lifting)
            EditorActivity::begin();
        else
            EditorActivity::end();
    }
    m_tabs->setCurrentValue(int(m_model->tab()));
    m_pages->setCurrentIndex(int(m_model->tab()));
    const bool unchanged = m_model->isUnchanged();
    m_resetAll->setEnabled(!unchanged);
    m_buttons->setActionEnabled(!unchanged && !m_model->findingSubject());
}

// The buttons take no focus, so nothing else would end the editing of a number typed but not
// yet committed: it counts as the user sees it.
void PhotoEditorView::commitTypedField()
{
    auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (field && isAncestorOf(field))
        field->clearFocus();
}

} // namespace qv
