#pragma once

#include <QWidget>

class QCheckBox;

namespace qv {

class QualitySliderRow;
class SettingsBinder;
class SettingsStore;

// The default qualities and size limits of images, video, audio and PDF output.
class QualitySettingsTab : public QWidget {
    Q_OBJECT
public:
    explicit QualitySettingsTab(SettingsStore& store, QWidget* parent = nullptr);

    QualitySliderRow* webpRow() const { return m_webp; }
    QualitySliderRow* jpegRow() const { return m_jpeg; }
    QCheckBox* hardwareEncoding() const { return m_hardware; }

private:
    SettingsBinder* m_binder;
    QualitySliderRow* m_jpeg = nullptr;
    QualitySliderRow* m_webp = nullptr;
    QCheckBox* m_hardware = nullptr;
};

} // namespace qv
