#pragma once

#include "editors/EditorTargets.h"

#include <QImage>
#include <QWidget>

namespace qv {

class CropOverlay;
class PhotoEditorModel;

// The picture being edited, fitted into its 500 x 440 area, over the checker when the copy
// keeps transparency; the untouched original while comparing.
class PhotoPreview : public QWidget, public EditorTargets {
    Q_OBJECT
public:
    explicit PhotoPreview(PhotoEditorModel* model, QWidget* parent = nullptr);

    // The picture on show and the size it stands for (the copy's, unless comparing).
    QImage picture() const;
    QSize pictureSize() const;
    // Where the picture is drawn, centred in the area.
    QRect pictureRect() const;
    bool showsCheckerboard() const;
    // The frame shows on the Crop tab, and on the Size tab while an exact size imposes a shape.
    bool showsCropFrame() const;
    CropOverlay* cropFrame() const { return m_frame; }

    // The fitted size: scaled to 472 x 412, small pictures enlarged, halves rounded up.
    static QSize fittedSize(QSize size);

    std::optional<QRectF> targetRect(const QString& name) const override;

    QSize sizeHint() const override { return {500, 440}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    PhotoEditorModel* m_model;
    CropOverlay* m_frame = nullptr;
};

} // namespace qv
