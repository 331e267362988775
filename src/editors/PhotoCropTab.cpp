#include "editors/PhotoCropTab.h"

#include "editors/CropGeometry.h"
#include "editors/PhotoEditorModel.h"
#include "jobs/ui/SegmentedPicker.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv {

namespace {

QLabel* secondary(const QString& text)
{
    auto* label = new QLabel(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

} // namespace

QString PhotoCropTab::pixelSizeText(QSize size)
{
    return QStringLiteral("%1 × %2 px").arg(size.width()).arg(size.height());
}

PhotoCropTab::PhotoCropTab(PhotoEditorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(secondary(QStringLiteral("Aspect ratio")));
    QList<OptionChoice> choices;
    for (AspectPreset preset : allCases<AspectPreset>())
        choices.append({label(preset), QVariant::fromValue(int(preset))});
    m_shapes = new SegmentedPicker(choices);
    m_shapes->setAccessibleName(QStringLiteral("Aspect"));
    layout->addWidget(m_shapes);
    connect(m_shapes, &SegmentedPicker::activated, this,
            [this](const QVariant& value) { choose(AspectPreset(value.toInt())); });

    layout->addWidget(secondary(QStringLiteral("Rotate and flip")));
    auto* turns = new QHBoxLayout;
    turns->setSpacing(8);
    const auto addButton = [turns](const QString& text, const QString& title, auto action) {
        auto* button = new QPushButton(text);
        button->setToolTip(title);
        button->setAccessibleName(title);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        QObject::connect(button, &QPushButton::clicked, button, action);
        turns->addWidget(button);
    };
    addButton(QStringLiteral("⟲"), QStringLiteral("Rotate left"), [this] { m_model->rotateQuarter(false); });
    addButton(QStringLiteral("⟳"), QStringLiteral("Rotate right"), [this] { m_model->rotateQuarter(true); });
    addButton(QStringLiteral("⇆"), QStringLiteral("Flip horizontally"), [this] { m_model->flip(true); });
    addButton(QStringLiteral("⇅"), QStringLiteral("Flip vertically"), [this] { m_model->flip(false); });
    turns->addStretch(1);
    layout->addLayout(turns);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    auto* sizeRow = new QHBoxLayout;
    m_size = new QLabel;
    sizeRow->addWidget(m_size);
    sizeRow->addStretch(1);
    m_reset = new QPushButton(QStringLiteral("Reset"));
    m_reset->setFocusPolicy(Qt::NoFocus);
    m_reset->setAutoDefault(false);
    connect(m_reset, &QPushButton::clicked, this, [this] { m_model->resetGeometry(); });
    sizeRow->addWidget(m_reset);
    layout->addLayout(sizeRow);
    layout->addWidget(secondary(QStringLiteral("Drag the corners or edges of the picture to crop.")));

    connect(m_model, &PhotoEditorModel::changed, this, &PhotoCropTab::refresh);
    refresh();
}

void PhotoCropTab::choose(AspectPreset preset)
{
    if (m_model->exactShapeRatio())
        return;
    m_model->setAspect(preset);
    if (const std::optional<QRectF> start = initialCropRect(preset, QSizeF(m_model->orientedSize())))
        m_model->setCrop(*start);
}

void PhotoCropTab::refresh()
{
    m_shapes->setCurrentValue(int(m_model->aspect()));
    m_shapes->setEnabled(!m_model->exactShapeRatio());
    m_size->setText(pixelSizeText(m_model->pixelCropRect().size()));
    m_reset->setEnabled(m_model->isGeometryEdited());
}

} // namespace qv
