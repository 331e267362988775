#include "editors/PhotoExportTab.h"

#include "editors/PhotoEditorModel.h"
#include "model/Capabilities.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace qv {

namespace {

QLabel* secondary(const QString& text = {})
{
    auto* label = new QLabel(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

constexpr int qualitySteps = 900; // 0.1 ... 1.0

} // namespace

QList<ImageOutput> PhotoExportTab::exportFormats()
{
    const Capabilities& capabilities = Capabilities::shared();
    const bool ffmpeg = capabilities.ffmpegURL().has_value();
    QList<ImageOutput> formats{ImageOutput::jpg, ImageOutput::png, ImageOutput::heic};
    if (capabilities.imageIOWritable().contains(QStringLiteral("org.webmproject.webp")) || ffmpeg)
        formats.append(ImageOutput::webp);
    if (capabilities.imageIOWritable().contains(QStringLiteral("public.avif")) || ffmpeg)
        formats.append(ImageOutput::avif);
    formats.append(ImageOutput::tiff);
    return formats;
}

QString PhotoExportTab::displayName(ImageOutput output)
{
    return toString(output).toUpper();
}

PhotoExportTab::PhotoExportTab(PhotoEditorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* formatRow = new QHBoxLayout;
    auto* formatLabel = new QLabel(QStringLiteral("Format"));
    formatRow->addWidget(formatLabel);
    m_format = new QComboBox;
    m_format->setAccessibleName(QStringLiteral("Format"));
    formatLabel->setBuddy(m_format);
    m_format->addItem(QString(), QVariant());
    m_format->insertSeparator(1);
    for (ImageOutput output : exportFormats())
        m_format->addItem(displayName(output), QVariant::fromValue(int(output)));
    formatRow->addWidget(m_format, 1);
    layout->addLayout(formatRow);
    connect(m_format, &QComboBox::activated, this, [this](int index) {
        const QVariant value = m_format->itemData(index);
        m_model->setFormat(value.isValid() ? std::optional(ImageOutput(value.toInt())) : std::nullopt);
    });

    m_qualityBox = new QWidget;
    auto* qualityLayout = new QVBoxLayout(m_qualityBox);
    qualityLayout->setContentsMargins(0, 0, 0, 0);
    qualityLayout->setSpacing(2);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(new QLabel(QStringLiteral("Quality")));
    qualityRow->addStretch(1);
    m_qualityText = secondary();
    qualityRow->addWidget(m_qualityText);
    qualityLayout->addLayout(qualityRow);
    m_quality = new QSlider(Qt::Horizontal);
    m_quality->setRange(0, qualitySteps);
    m_quality->setAccessibleName(QStringLiteral("Quality"));
    qualityLayout->addWidget(m_quality);
    connect(m_quality, &QSlider::valueChanged, this,
            [this](int position) { m_model->setQuality(0.1 + 0.9 * position / qualitySteps); });
    layout->addWidget(m_qualityBox);
    m_qualityNote = secondary();
    layout->addWidget(m_qualityNote);
    m_transparency = secondary();
    layout->addWidget(m_transparency);

    auto* stripRow = new QHBoxLayout;
    stripRow->addWidget(new QLabel(QStringLiteral("Remove metadata")));
    stripRow->addStretch(1);
    m_strip = new QCheckBox;
    m_strip->setAccessibleName(QStringLiteral("Remove metadata"));
    stripRow->addWidget(m_strip);
    layout->addLayout(stripRow);
    connect(m_strip, &QCheckBox::toggled, this, [this](bool on) { m_model->setStripMetadata(on); });

    connect(m_model, &PhotoEditorModel::changed, this, &PhotoExportTab::refresh);
    refresh();
}

void PhotoExportTab::refresh()
{
    const ImageOutput effective = m_model->effectiveFormat();
    m_format->setItemText(0, displayName(m_model->sameFormat()) + QStringLiteral(", like the original"));
    const std::optional<ImageOutput> chosen = m_model->format();
    m_format->setCurrentIndex(chosen ? m_format->findData(int(*chosen)) : 0);

    const bool lossy = isLossy(effective);
    m_qualityBox->setVisible(lossy);
    m_qualityNote->setVisible(!lossy);
    if (lossy) {
        const double quality = m_model->shownQuality();
        m_qualityText->setText(QStringLiteral("%1 %").arg(int(std::lround(quality * 100))));
        const QSignalBlocker block(m_quality);
        m_quality->setValue(int(std::lround((quality - 0.1) / 0.9 * qualitySteps)));
    } else {
        m_qualityNote->setText(displayName(effective) + QStringLiteral(" keeps every pixel, so there is no quality to choose."));
    }

    QString note;
    if (m_model->outputKeepsAlpha()) {
        if (lacksAlpha(effective))
            note = displayName(effective) + QStringLiteral(" can't keep transparency: it gets the background color from Settings.");
        else if (m_model->switchedToPNG() && effective == ImageOutput::png)
            note = QStringLiteral("PNG keeps the transparent background.");
    }
    m_transparency->setText(note);
    m_transparency->setVisible(!note.isEmpty());
    const QSignalBlocker block(m_strip);
    m_strip->setChecked(m_model->stripMetadata());
}

} // namespace qv
