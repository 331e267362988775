#include "editors/photo/PhotoCropTab.h"

#include "widgets/ChipStyle.h"
#include "editors/CropGeometry.h"
#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoLabels.h"
#include "graphics/SymbolTable.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv {

QString PhotoCropTab::pixelSizeText(QSizeF size)
{
    return QStringLiteral("%1 × %2 px").arg(qint64(size.width())).arg(qint64(size.height()));
}

QString PhotoCropTab::shapeNote(int width, int height)
{
    return QStringLiteral("The frame keeps the shape of the exact size, %1\u00A0×\u00A0%2\u00A0px.").arg(width).arg(height);
}

PhotoCropTab::PhotoCropTab(PhotoEditorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(PhotoLabels::callout(QStringLiteral("Aspect ratio")));

    m_chipGrid = new QWidget;
    auto* grid = new QGridLayout(m_chipGrid);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(6);
    int index = 0;
    for (AspectPreset preset : allCases<AspectPreset>()) {
        auto* chip = new QPushButton(label(preset));
        auto* style = new ChipStyle;
        style->setParent(chip);
        chip->setStyle(style);
        chip->setFocusPolicy(Qt::NoFocus);
        chip->setAutoDefault(false);
        chip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        chip->setMinimumWidth(10);
        grid->addWidget(chip, index / 4, index % 4);
        m_chips[std::size_t(preset)] = chip;
        m_chipStyles[std::size_t(preset)] = style;
        connect(chip, &QPushButton::clicked, this, [this, preset] { choose(preset); });
        ++index;
    }
    for (int column = 0; column < 4; ++column)
        grid->setColumnStretch(column, 1);
    layout->addWidget(m_chipGrid);
    m_note = PhotoLabels::caption(QString());
    layout->addWidget(m_note);

    layout->addWidget(PhotoLabels::callout(QStringLiteral("Rotate and flip")));
    auto* turns = new QHBoxLayout;
    turns->setSpacing(8);
    const auto addButton = [this, turns](const QString& symbol, const QString& title, auto action) {
        auto* button = new QPushButton;
        button->setIcon(symbolIcon(symbol));
        button->setIconSize(QSize(18, 18));
        button->setMinimumSize(22 + 16, 18 + 8);
        button->setToolTip(title);
        button->setAccessibleName(title);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, action);
        turns->addWidget(button);
    };
    addButton(QStringLiteral("rotate.left"), QStringLiteral("Rotate left"), [this] { Q_EMIT turnRequested(false); });
    addButton(QStringLiteral("rotate.right"), QStringLiteral("Rotate right"), [this] { Q_EMIT turnRequested(true); });
    addButton(QStringLiteral("arrow.left.and.right.righttriangle.left.righttriangle.right"),
              QStringLiteral("Flip horizontally"), [this] { Q_EMIT mirrorRequested(true); });
    addButton(QStringLiteral("arrow.up.and.down.righttriangle.up.righttriangle.down"),
              QStringLiteral("Flip vertically"), [this] { Q_EMIT mirrorRequested(false); });
    turns->addStretch(1);
    layout->addLayout(turns);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    auto* sizeRow = new QHBoxLayout;
    m_size = new QLabel;
    m_size->setAccessibleName(QStringLiteral("Crop size"));
    sizeRow->addWidget(m_size);
    sizeRow->addStretch(1);
    m_reset = new QPushButton(QStringLiteral("Reset"));
    m_reset->setFocusPolicy(Qt::NoFocus);
    m_reset->setAutoDefault(false);
    connect(m_reset, &QPushButton::clicked, this, [this] { animated([this] { m_model->resetGeometry(); }); });
    sizeRow->addWidget(m_reset);
    layout->addLayout(sizeRow);
    layout->addWidget(PhotoLabels::caption(QStringLiteral("Drag the corners or edges of the picture to crop.")));

    connect(m_model, &PhotoEditorModel::changed, this, &PhotoCropTab::refresh);
    refresh();
}

void PhotoCropTab::animated(const std::function<void()>& change)
{
    if (m_animator)
        m_animator(change);
    else
        change();
}

bool PhotoCropTab::chipSelected(AspectPreset preset) const
{
    return m_chipStyles[std::size_t(preset)]->selected();
}

void PhotoCropTab::choose(AspectPreset preset)
{
    animated([this, preset] {
        if (m_model->exactShapeRatio())
            return;
        m_model->setAspect(preset);
        if (const std::optional<QRectF> start = initialCropRect(preset, QSizeF(m_model->orientedSize())))
            m_model->setCrop(*start);
    });
}

void PhotoCropTab::refresh()
{
    const bool imposed = m_model->exactShapeRatio().has_value();
    for (AspectPreset preset : allCases<AspectPreset>()) {
        const bool selected = !imposed && m_model->aspect() == preset;
        if (m_chipStyles[std::size_t(preset)]->selected() != selected) {
            m_chipStyles[std::size_t(preset)]->setSelected(selected);
            m_chips[std::size_t(preset)]->updateGeometry();
            m_chips[std::size_t(preset)]->update();
        }
    }
    m_chipGrid->setEnabled(!imposed);
    m_note->setVisible(imposed);
    if (imposed)
        m_note->setText(shapeNote(m_model->exactWidth(), m_model->exactHeight()));
    m_size->setText(pixelSizeText(m_model->pixelCropRect().size()));
    m_reset->setEnabled(m_model->isGeometryEdited());
}

} // namespace qv
