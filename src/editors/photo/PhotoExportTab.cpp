#include "editors/photo/PhotoExportTab.h"

#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoLabels.h"
#include "editors/photo/PhotoToggleRow.h"
#include "model/files/ByteCount.h"
#include "model/operations/Capabilities.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace qv {

namespace {

QLabel* rowTitle(const QString& text)
{
    auto* label = PhotoLabels::secondary(text);
    label->setWordWrap(false);
    return label;
}

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

QString PhotoExportTab::qualityText(double quality, bool chosen, bool cappedBySource)
{
    QString text = QString::number(std::lround(quality * 100)) + QStringLiteral(" %");
    if (!chosen && cappedBySource)
        text += QStringLiteral(", like the original");
    return text;
}

QString PhotoExportTab::estimateText(std::optional<qint64> bytes, bool exact, qint64 originalBytes)
{
    if (!bytes)
        return QStringLiteral("\u2013");
    const QString size = formatByteCount(*bytes);
    const QString shown = exact ? size : QStringLiteral("about ") + size;
    if (originalBytes < 1)
        return shown;
    // In whole numbers, so an exact half rounds away from zero as it reads.
    const qint64 saved = (originalBytes - *bytes) * 100;
    const qint64 magnitude = (std::abs(saved) * 2 + originalBytes) / (2 * originalBytes);
    const qint64 percent = saved < 0 ? -magnitude : magnitude;
    if (percent >= 1)
        return shown + QStringLiteral(", ") + QString::number(percent) + QStringLiteral(" % smaller");
    if (percent < 0)
        return shown + QStringLiteral(", ") + QString::number(-percent) + QStringLiteral(" % larger");
    return exact ? size + QStringLiteral(", the same") : QStringLiteral("about the same, ") + size;
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
    m_qualityText = PhotoLabels::secondary();
    m_qualityText->setWordWrap(false);
    qualityRow->addWidget(m_qualityText);
    qualityLayout->addLayout(qualityRow);
    m_quality = new QSlider(Qt::Horizontal);
    m_quality->setRange(0, qualitySteps);
    m_quality->setSingleStep(qualitySteps / 90);
    m_quality->setPageStep(qualitySteps / 9);
    m_quality->setAccessibleName(QStringLiteral("Quality"));
    qualityLayout->addWidget(m_quality);
    connect(m_quality, &QSlider::valueChanged, this,
            [this](int position) { m_model->setQuality(0.1 + 0.9 * position / qualitySteps); });
    m_losslessNote = PhotoLabels::caption(QStringLiteral(
        "Nothing changes in the picture, so it is copied as it is. Move the slider to compress it."));
    qualityLayout->addWidget(m_losslessNote);
    layout->addWidget(m_qualityBox);
    m_qualityNote = PhotoLabels::caption();
    layout->addWidget(m_qualityNote);
    m_transparency = PhotoLabels::caption();
    layout->addWidget(m_transparency);

    m_strip = new PhotoToggleRow(QStringLiteral("Remove metadata"), QStringLiteral("eye.slash"));
    layout->addWidget(m_strip);
    connect(m_strip, &PhotoToggleRow::toggled, this, [this](bool on) { m_model->setStripMetadata(on); });
    layout->addWidget(PhotoLabels::caption(QStringLiteral("Camera details, location and dates.")));

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* originalRow = new QHBoxLayout;
    originalRow->addWidget(rowTitle(QStringLiteral("Original")));
    originalRow->addStretch(1);
    m_originalSize = new QLabel(formatByteCount(m_model->file.size));
    originalRow->addWidget(m_originalSize);
    layout->addLayout(originalRow);

    auto* copyRow = new QHBoxLayout;
    copyRow->addWidget(rowTitle(QStringLiteral("Copy")));
    copyRow->addStretch(1);
    m_estimating = new QProgressBar;
    m_estimating->setRange(0, 0);
    m_estimating->setTextVisible(false);
    m_estimating->setAccessibleName(QStringLiteral("Estimating"));
    m_estimating->setFixedSize(48, 8);
    copyRow->addWidget(m_estimating);
    m_copySize = new QLabel;
    QFont semibold = m_copySize->font();
    semibold.setWeight(QFont::DemiBold);
    m_copySize->setFont(semibold);
    copyRow->addWidget(m_copySize);
    layout->addLayout(copyRow);

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
        m_qualityText->setText(qualityText(quality, m_model->quality().has_value(), m_model->qualityCappedBySource()));
        const QSignalBlocker block(m_quality);
        m_quality->setValue(int(std::lround((quality - 0.1) / 0.9 * qualitySteps)));
        m_losslessNote->setVisible(m_model->isLosslessEdit());
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
    m_strip->setChecked(m_model->stripMetadata());

    m_estimating->setVisible(m_model->estimating());
    m_copySize->setVisible(!m_model->estimating());
    m_copySize->setText(estimateText(m_model->estimatedBytes(), m_model->estimateIsExact(), m_model->file.size));
}

} // namespace qv
