#pragma once

#include "editors/EditorTargets.h"

#include <QImage>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QVariantAnimation;

namespace qv {

class CropOverlay;
class PhotoEditorModel;

// The picture being edited, fitted into its 500 x 440 area, over the checker when the copy
// keeps transparency; the untouched original while comparing. Quarter turns and mirrors spring
// into place from the old orientation; the picture itself is rendered once by the model.
class PhotoPreview : public QWidget, public EditorTargets {
    Q_OBJECT
public:
    explicit PhotoPreview(const PhotoEditorModel* model, QWidget* parent = nullptr);
    ~PhotoPreview() override;

    // The picture on show and the size it stands for (the copy's, unless comparing).
    QImage picture() const;
    QSize pictureSize() const;
    // Where the picture is drawn, centred in the area.
    QRect pictureRect() const;
    bool showsCheckerboard() const;
    // The frame shows on the Crop tab, and on the Size tab while an exact size imposes a shape.
    bool showsCropFrame() const;
    CropOverlay* cropFrame() const { return m_frame; }
    // The "Finding the subject…" panel over the picture.
    QWidget* busyPanel() const { return m_busy; }

    // The fitted size: scaled to 472 x 412, small pictures enlarged, halves rounded up.
    static QSize fittedSize(QSize size);

    // The extra turn in degrees (clockwise) and mirror factors shown while a turn or a mirror
    // springs into place; 0 and 1 x 1 at rest.
    double spin() const { return m_spin; }
    QSizeF mirror() const { return m_mirror; }
    // Shows the already turned picture `degrees` back and springs it to rest once the event
    // loop has laid that out.
    void springTurn(double degrees);
    // Likewise for a mirror: -1 on the mirrored axis.
    void springMirror(QSizeF factors);
    // The running turn or mirror spring, for a test's clock; none at rest.
    QVariantAnimation* motion() const;
    // Runs a model change whose crop frame movement springs instead of jumping.
    void withSpring(const std::function<void()>& change);

    std::optional<QRectF> targetRect(const QString& name) const override;

    QSize sizeHint() const override { return {500, 440}; }

Q_SIGNALS:
    // The user moved the crop frame; the preview only reads the model, its owner writes it.
    void cropEdited(const QRectF& crop);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void startMotion();
    void setMotionActive(bool active);
    bool atRest() const;

    const PhotoEditorModel* m_model;
    CropOverlay* m_frame = nullptr;
    QWidget* m_busy;
    double m_spin = 0;
    QSizeF m_mirror{1, 1};
    double m_spinFrom = 0;
    QSizeF m_mirrorFrom{1, 1};
    QVariantAnimation* m_motion;
    bool m_motionActive = false;
    bool m_springing = false;
    // Where the crop frame is springing to; its steps are not the user's and stay out of the model.
    std::optional<QRectF> m_frameTarget;
};

} // namespace qv
