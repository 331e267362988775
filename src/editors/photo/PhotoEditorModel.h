#pragma once

#include "editors/photo/PhotoEditorServices.h"
#include "engines/image/foreign/ImageOutput.h"
#include "model/files/FileInfo.h"
#include "model/operations/AspectPreset.h"
#include "model/operations/OperationOptions.h"
#include "model/operations/PhotoAdjustments.h"
#include "model/settings/SettingsSnapshot.h"

#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSize>

#include <memory>
#include <optional>
#include <stop_token>

namespace qv {

// Every choice of the photo editor, its preview and its size estimate; the choices become one
// recipe for the image edit. Main thread only; background work answers through the services.
class PhotoEditorModel : public QObject {
    Q_OBJECT
public:
    enum class Tab { adjust, crop, size, exportTab };
    enum class SizeMode { original, scale, fit, exact };
    enum class ExactFit { crop, stretch };
    struct SizePreset {
        int width = 0;
        int height = 0;
        QString name;
        bool operator==(const SizePreset&) const = default;
    };
    static QString title(Tab tab);
    static QString title(SizeMode mode);
    static QString title(ExactFit fit);
    static std::optional<Tab> tabFromTitle(const QString& text);
    static std::optional<SizeMode> sizeModeFromTitle(const QString& text);
    static std::optional<ExactFit> exactFitFromTitle(const QString& text);

    PhotoEditorModel(FileInfo file, QImage original, QSize pixelSize, bool sourceHasAlpha,
                     SettingsSnapshot settings, std::optional<int> originalQuality,
                     std::shared_ptr<PhotoEditorServices> services, QObject* parent = nullptr);
    ~PhotoEditorModel() override;

    // Fixed at creation.
    const FileInfo file;
    const QImage original;
    const QSize pixelSize;
    const bool sourceHasAlpha;
    const SettingsSnapshot settings;
    const std::optional<int> originalQuality;

    // Choices; setting one through its setter runs its reaction.
    Tab tab() const { return m_tab; }
    void setTab(Tab tab);
    PhotoAdjustments adjustments() const { return m_adjustments; }
    void setAdjustments(const PhotoAdjustments& adjustments);
    bool removeBackground() const { return m_removeBackground; }
    void setRemoveBackground(bool on);
    std::optional<QString> fillHex() const { return m_fillHex; }
    void setFillHex(const std::optional<QString>& fill);
    bool findingSubject() const { return m_findingSubject; }
    std::optional<QString> subjectError() const { return m_subjectError; }
    int rotation() const { return m_rotation; }
    void setRotation(int degrees);
    bool flipHorizontal() const { return m_flipHorizontal; }
    bool flipVertical() const { return m_flipVertical; }
    QRectF crop() const { return m_crop; }
    void setCrop(const QRectF& crop);
    AspectPreset aspect() const { return m_aspect; }
    void setAspect(AspectPreset aspect);
    SizeMode sizeMode() const { return m_sizeMode; }
    void setSizeMode(SizeMode mode);
    double scalePercent() const { return m_scalePercent; }
    void setScalePercent(double percent);
    int fitLongest() const { return m_fitLongest; }
    void setFitLongest(int pixels);
    int exactWidth() const { return m_exactWidth; }
    void setExactWidth(int pixels);
    int exactHeight() const { return m_exactHeight; }
    void setExactHeight(int pixels);
    // Both sides at once, so the crop is fitted to the new shape alone.
    void setExactSize(int width, int height);
    ExactFit exactFit() const { return m_exactFit; }
    void setExactFit(ExactFit fit);
    std::optional<QRectF> cropBeforeShape() const { return m_cropBeforeShape; }
    std::optional<ImageOutput> format() const { return m_format; }
    void setFormat(std::optional<ImageOutput> format);
    std::optional<double> quality() const { return m_quality; }
    bool stripMetadata() const { return m_stripMetadata; }
    void setStripMetadata(bool strip);
    bool switchedToPNG() const { return m_switchedToPNG; }
    QImage display() const { return m_display; }
    bool comparing() const { return m_comparing; }
    void setComparing(bool comparing);
    std::optional<qint64> estimatedBytes() const { return m_estimatedBytes; }
    bool estimateIsExact() const { return m_estimateIsExact; }
    bool estimating() const { return m_estimating; }
    QImage rendered() const { return m_rendered; }
    std::optional<QImage> cutout() const { return m_cutout; }
    bool rendering() const { return m_rendering; }

    // Queries.
    int quarterTurns() const;
    QSize orientedSize() const;
    QRect pixelCropRect() const;
    bool isGeometryEdited() const;
    std::optional<int> targetMaxDimension() const;
    std::optional<QSize> targetExactSize() const;
    QSize outputPixelSize() const;
    std::optional<double> exactShapeRatio() const;
    std::optional<double> cropShapeRatio() const;
    bool outputKeepsAlpha() const;
    ImageOutput effectiveFormat() const;
    // The file's own output, as when no format is chosen.
    ImageOutput sameFormat() const;
    // The quality 0...1 the copy gets: the chosen one, else the output's default.
    double shownQuality() const;
    bool qualityCappedBySource() const;
    bool isUnchanged() const;
    // The copy would be the file as it is: nothing to re-encode.
    bool isLosslessEdit() const;
    QImage croppedDisplay() const;
    OperationOptions recipe() const;

    // Operations.
    void scheduleEstimate();
    void renderPreview();
    void updateSubject();
    void ensureAlphaFormat();
    void sizeModeChanged();
    void applyShapeState();
    void setQuality(std::optional<double> quality);
    void rotateQuarter(bool clockwise);
    void flip(bool horizontal);
    void fitCropToShape();
    void updateDisplay();
    void resetGeometry();
    void resetAll();

Q_SIGNALS:
    void changed();

private:
    std::shared_ptr<PhotoEditorServices> m_services;
    Tab m_tab = Tab::adjust;
    PhotoAdjustments m_adjustments;
    bool m_removeBackground = false;
    std::optional<QString> m_fillHex;
    bool m_findingSubject = false;
    std::optional<QString> m_subjectError;
    int m_rotation = 0;
    bool m_flipHorizontal = false;
    bool m_flipVertical = false;
    QRectF m_crop{0, 0, 1, 1};
    AspectPreset m_aspect = AspectPreset::free;
    SizeMode m_sizeMode = SizeMode::original;
    double m_scalePercent = 50;
    int m_fitLongest = 2048;
    int m_exactWidth = 0;
    int m_exactHeight = 0;
    ExactFit m_exactFit = ExactFit::crop;
    std::optional<QRectF> m_cropBeforeShape;
    std::optional<ImageOutput> m_format;
    std::optional<double> m_quality;
    bool m_stripMetadata = false;
    bool m_switchedToPNG = false;
    QImage m_display;
    bool m_comparing = false;
    std::optional<qint64> m_estimatedBytes;
    bool m_estimateIsExact = false;
    bool m_estimating = false;
    QImage m_rendered;
    std::optional<QImage> m_cutout;
    bool m_rendering = false;
    bool m_renderAgain = false;
    // The pending estimate: a newer one stops it and takes its place.
    std::optional<std::stop_source> m_estimateTask;
};

} // namespace qv
