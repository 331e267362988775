#include "editors/crop/CropEditorView.h"

#include "widgets/SegmentedPicker.h"
#include "platform/ui/EditorButtons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace qv {

QSizeF CropEditorView::displaySize(QSize pixelSize)
{
    const double w = std::max(pixelSize.width(), 1), h = std::max(pixelSize.height(), 1);
    const double s = std::min(680.0 / w, 460.0 / h);
    return QSizeF(w * s, h * s);
}

CropEditorView::CropEditorView(const QImage& preview, QSize pixelSize, std::function<void()> cancel,
                               std::function<void(QRect)> apply, QWidget* parent)
    : QWidget(parent), m_pixelSize(pixelSize)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(14);

    m_overlay = new CropOverlay(pixelSize, displaySize(pixelSize));
    m_overlay->setPicture(preview);
    auto* pictureArea = new QWidget;
    auto* pictureLayout = new QVBoxLayout(pictureArea);
    pictureLayout->setContentsMargins(8, 8, 8, 8);
    pictureLayout->addWidget(m_overlay);
    layout->addWidget(pictureArea, 0, Qt::AlignHCenter);

    QList<OptionChoice> choices;
    for (AspectPreset preset : allCases<AspectPreset>())
        choices.append({label(preset), QVariant::fromValue(int(preset))});
    m_picker = new SegmentedPicker(choices);
    m_picker->setAccessibleName(QStringLiteral("Aspect"));
    m_picker->setCurrentValue(int(AspectPreset::free));
    layout->addWidget(m_picker, 0, Qt::AlignHCenter);
    connect(m_picker, &SegmentedPicker::activated, this,
            [this](const QVariant& value) { choose(AspectPreset(value.toInt())); });

    auto* row = new QHBoxLayout;
    m_size = new QLabel;
    m_size->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(m_size);
    m_buttons = new EditorButtons(QStringLiteral("Crop"), std::move(cancel),
                                  [this, apply = std::move(apply)] { apply(pixelRect()); });
    row->addWidget(m_buttons, 1);
    layout->addLayout(row);

    connect(m_overlay, &CropOverlay::cropChanged, this, &CropEditorView::refresh);
    refresh();
}

QRect CropEditorView::pixelRect() const
{
    return pixelCropRect(m_overlay->crop(), m_pixelSize);
}

void CropEditorView::choose(AspectPreset preset)
{
    m_aspect = preset;
    m_picker->setCurrentValue(int(preset));
    m_overlay->setRatio(presetPixelRatio(preset, m_pixelSize));
    if (const std::optional<QRectF> start = initialCropRect(preset, m_pixelSize))
        m_overlay->animateTo(*start);
}

void CropEditorView::refresh()
{
    const QRect rect = pixelRect();
    m_size->setText(QStringLiteral("%1 × %2 px").arg(rect.width()).arg(rect.height()));
    m_buttons->setActionEnabled(rect.width() >= 2 && rect.height() >= 2);
}

} // namespace qv
