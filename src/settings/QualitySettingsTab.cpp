#include "settings/QualitySettingsTab.h"

#include "jobs/OptionChoices.h"
#include "model/settings/SettingsKeys.h"
#include "settings/SettingsBinder.h"
#include "settings/SettingsForm.h"
#include "widgets/ColorWell.h"
#include "widgets/QualitySliderRow.h"
#include "widgets/SegmentedPicker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSlider>

namespace qv {

namespace {

QList<OptionChoice> numbered(const QString& first, const QList<int>& values, const QString& unit)
{
    QList<OptionChoice> choices{{first, 0}};
    for (int value : values)
        choices.append({QString::number(value) + unit, value});
    return choices;
}

} // namespace

QualitySettingsTab::QualitySettingsTab(SettingsStore& store, QWidget* parent)
    : QWidget(parent), m_binder(new SettingsBinder(store, this))
{
    SettingsForm form(this);
    const auto slider = [this](bool percent, const QString& key) {
        auto* row = new QualitySliderRow(this);
        // 30 % to 100 % in steps of one percent.
        row->slider()->setRange(300, 1000);
        row->slider()->setSingleStep(10);
        row->slider()->setPageStep(100);
        row->setFixedWidth(260);
        m_binder->bindQuality(row, key, percent);
        return row;
    };
    const auto menu = [this](const QString& key, const QList<OptionChoice>& choices) {
        auto* combo = new QComboBox(this);
        m_binder->bindComboBox(combo, key, choices);
        return combo;
    };

    QFormLayout* images = form.addSection(QStringLiteral("Images"));
    m_jpeg = slider(false, SettingsKey::jpegQuality);
    images->addRow(QStringLiteral("JPEG quality"), m_jpeg);
    images->addRow(QStringLiteral("HEIC quality"), slider(false, SettingsKey::heicQuality));
    m_webp = slider(true, SettingsKey::webpQuality);
    images->addRow(QStringLiteral("WebP quality"), m_webp);
    images->addRow(QStringLiteral("AVIF quality"), slider(true, SettingsKey::avifQuality));
    images->addRow(QStringLiteral("Largest side"),
                   menu(SettingsKey::imageMaxDimension,
                        numbered(QStringLiteral("Keep original size"), {4096, 2560, 1920, 1280},
                                 QStringLiteral(" px"))));
    auto* well = new ColorWell(this);
    m_binder->bindColor(well, SettingsKey::alphaBackground, Qt::white);
    images->addRow(QStringLiteral("Background for transparency"), well);

    QFormLayout* video = form.addSection(QStringLiteral("Video"));
    video->addRow(QStringLiteral("Codec"), menu(SettingsKey::videoCodec, videoCodecChoices()));
    auto* preset = new SegmentedPicker(qualityPresetChoices(), this);
    m_binder->bindSegmented(preset, SettingsKey::videoPreset);
    video->addRow(QStringLiteral("Quality"), preset);
    video->addRow(QStringLiteral("Largest resolution"),
                  menu(SettingsKey::videoMaxResolution,
                       numbered(QStringLiteral("Keep original"), {2160, 1440, 1080, 720},
                                QStringLiteral("p"))));
    video->addRow(QStringLiteral("Audio bitrate"),
                  menu(SettingsKey::videoAudioBitrate, audioBitrateChoices()));
    // Encoding runs in software here: the box shows what happens, unticked, whatever the stored
    // value (kept for settings files that travel between computers).
    m_hardware = new QCheckBox(QStringLiteral("Hardware encoding"), this);
    m_hardware->setChecked(false);
    m_hardware->setEnabled(false);
    video->addRow(m_hardware);
    video->addRow(SettingsForm::caption(QStringLiteral("Not available on this computer"), this));

    QFormLayout* audio = form.addSection(QStringLiteral("Audio"));
    audio->addRow(QStringLiteral("MP3 bitrate"), menu(SettingsKey::mp3Bitrate, audioBitrateChoices()));
    audio->addRow(QStringLiteral("AAC bitrate"), menu(SettingsKey::aacBitrate, audioBitrateChoices()));
    QList<OptionChoice> rates{{QStringLiteral("Keep original"), 0}};
    for (int rate : {44100, 48000, 96000})
        rates.append({shortNumberText(rate / 1000.0) + QStringLiteral(" kHz"), rate});
    audio->addRow(QStringLiteral("Sample rate"), menu(SettingsKey::sampleRate, rates));

    QFormLayout* pdf = form.addSection(QStringLiteral("PDF"));
    pdf->addRow(QStringLiteral("Render PDF pages at"), menu(SettingsKey::pdfDPI, dpiChoices()));
    pdf->addRow(QStringLiteral("Compression"), menu(SettingsKey::pdfCompression, pdfCompressionChoices()));
    auto* pageSize = new SegmentedPicker(pageSizeChoices(), this);
    m_binder->bindSegmented(pageSize, SettingsKey::pageSize);
    pdf->addRow(QStringLiteral("Page size for documents"), pageSize);
    form.finish();
}

} // namespace qv
