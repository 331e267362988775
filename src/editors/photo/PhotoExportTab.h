#pragma once

#include "engines/image/foreign/ImageOutput.h"

#include <QList>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QProgressBar;
class QSlider;

namespace qv {

class PhotoEditorModel;
class PhotoToggleRow;

// The copy's format, quality and metadata, and the copy's size beside the original's.
class PhotoExportTab : public QWidget {
    Q_OBJECT
public:
    explicit PhotoExportTab(PhotoEditorModel* model, QWidget* parent = nullptr);

    // jpg, png, heic, webp, avif, tiff; webp and avif only when something writes them.
    static QList<ImageOutput> exportFormats();
    static QString displayName(ImageOutput output);

    // "85 %"; ", like the original" follows when the default quality is held down by the
    // original's own.
    static QString qualityText(double quality, bool chosen, bool cappedBySource);
    // The copy's size: "–" before any estimate, "about 1.4 MB, 35 % smaller", "2.1 MB, 5 % larger",
    // "3 MB, the same", "about the same, 3 MB".
    static QString estimateText(std::optional<qint64> bytes, bool exact, qint64 originalBytes);

    QComboBox* formatMenu() const { return m_format; }
    QLabel* qualityLabel() const { return m_qualityText; }
    QSlider* qualitySlider() const { return m_quality; }
    QLabel* qualityNote() const { return m_qualityNote; }
    QLabel* losslessNote() const { return m_losslessNote; }
    QLabel* transparencyNote() const { return m_transparency; }
    QLabel* originalSizeLabel() const { return m_originalSize; }
    QLabel* copySizeLabel() const { return m_copySize; }
    QProgressBar* estimatingIndicator() const { return m_estimating; }
    PhotoToggleRow* metadataRow() const { return m_strip; }

    // Quality slider positions over 0.1 ... 1.0: fine enough to pass for continuous.
    static constexpr int qualitySteps = 9000;

private:
    void refresh();

    PhotoEditorModel* m_model;
    QComboBox* m_format;
    QWidget* m_qualityBox;
    QLabel* m_qualityText;
    QSlider* m_quality;
    QLabel* m_qualityNote;
    QLabel* m_losslessNote;
    QLabel* m_transparency;
    PhotoToggleRow* m_strip;
    QLabel* m_originalSize;
    QLabel* m_copySize;
    QProgressBar* m_estimating;
};

} // namespace qv
