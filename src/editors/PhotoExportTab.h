#pragma once

#include "engines/image/ImageOutput.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

namespace qv {

class PhotoEditorModel;

// The copy's format, quality and metadata.
class PhotoExportTab : public QWidget {
    Q_OBJECT
public:
    explicit PhotoExportTab(PhotoEditorModel* model, QWidget* parent = nullptr);

    // jpg, png, heic, webp, avif, tiff; webp and avif only when something writes them.
    static QList<ImageOutput> exportFormats();
    static QString displayName(ImageOutput output);

    QComboBox* formatMenu() const { return m_format; }
    QLabel* qualityNote() const { return m_qualityNote; }
    QLabel* transparencyNote() const { return m_transparency; }

private:
    void refresh();

    PhotoEditorModel* m_model;
    QComboBox* m_format;
    QWidget* m_qualityBox;
    QLabel* m_qualityText;
    QSlider* m_quality;
    QLabel* m_qualityNote;
    QLabel* m_transparency;
    QCheckBox* m_strip;
};

} // namespace qv
