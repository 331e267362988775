#include "editors/photo/PhotoEditorModel.h"

#include "editors/EditorActivity.h"
#include "platform/processes/ThreadCall.h"

#include <QPointer>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

namespace qv {

namespace {

constexpr std::array tabTitles{"Adjust", "Crop", "Size", "Export"};
constexpr std::array sizeModeTitles{"Original", "Scale", "Fit", "Exact"};
constexpr std::array exactFitTitles{"Crop", "Stretch"};
const QRectF wholeImage(0, 0, 1, 1);
constexpr int estimateDelayMs = 350;

template <typename Titles>
std::optional<int> positionOf(const Titles& titles, const QString& text)
{
    for (std::size_t i = 0; i < titles.size(); ++i)
        if (text == QLatin1String(titles[i]))
            return int(i);
    return std::nullopt;
}

// Counts a pending estimate as editor work from its scheduling to its end, however it ends;
// the last owner may let go of it on a worker thread.
class EstimateActivity {
public:
    EstimateActivity() { EditorActivity::begin(); }
    ~EstimateActivity()
    {
        postToMainThread([] { EditorActivity::end(); });
    }
    EstimateActivity(const EstimateActivity&) = delete;
    EstimateActivity& operator=(const EstimateActivity&) = delete;
};

// Rounding as the image edit does: halves away from zero.
int rounded(double value)
{
    return int(std::round(value));
}

} // namespace

QString PhotoEditorModel::title(Tab tab) { return QLatin1String(tabTitles[std::size_t(tab)]); }
QString PhotoEditorModel::title(SizeMode mode) { return QLatin1String(sizeModeTitles[std::size_t(mode)]); }
QString PhotoEditorModel::title(ExactFit fit) { return QLatin1String(exactFitTitles[std::size_t(fit)]); }

std::optional<PhotoEditorModel::Tab> PhotoEditorModel::tabFromTitle(const QString& text)
{
    if (const std::optional<int> at = positionOf(tabTitles, text))
        return Tab(*at);
    return std::nullopt;
}

std::optional<PhotoEditorModel::SizeMode> PhotoEditorModel::sizeModeFromTitle(const QString& text)
{
    if (const std::optional<int> at = positionOf(sizeModeTitles, text))
        return SizeMode(*at);
    return std::nullopt;
}

std::optional<PhotoEditorModel::ExactFit> PhotoEditorModel::exactFitFromTitle(const QString& text)
{
    if (const std::optional<int> at = positionOf(exactFitTitles, text))
        return ExactFit(*at);
    return std::nullopt;
}

PhotoEditorModel::PhotoEditorModel(FileInfo file_, QImage original_, QSize pixelSize_, bool sourceHasAlpha_,
                                   SettingsSnapshot settings_, std::optional<int> originalQuality_,
                                   std::shared_ptr<PhotoEditorServices> services, QObject* parent)
    : QObject(parent),
      file(std::move(file_)),
      original(std::move(original_)),
      pixelSize(pixelSize_),
      sourceHasAlpha(sourceHasAlpha_),
      settings(std::move(settings_)),
      originalQuality(originalQuality_),
      m_services(std::move(services)),
      m_stripMetadata(!settings.preserveMetadata),
      m_display(original),
      m_rendered(original)
{
}

PhotoEditorModel::~PhotoEditorModel()
{
    if (m_estimateTask)
        m_estimateTask->request_stop();
}

// --- setters and their reactions

void PhotoEditorModel::setTab(Tab tab)
{
    m_tab = tab;
    scheduleEstimate();
    Q_EMIT changed();
}

void PhotoEditorModel::setAdjustments(const PhotoAdjustments& adjustments)
{
    m_adjustments = adjustments;
    renderPreview();
    Q_EMIT changed();
}

void PhotoEditorModel::setRemoveBackground(bool on)
{
    m_removeBackground = on;
    updateSubject();
    Q_EMIT changed();
}

void PhotoEditorModel::setFillHex(const std::optional<QString>& fill)
{
    m_fillHex = fill;
    renderPreview();
    ensureAlphaFormat();
    Q_EMIT changed();
}

void PhotoEditorModel::setRotation(int degrees)
{
    m_rotation = degrees;
    updateDisplay();
}

void PhotoEditorModel::setCrop(const QRectF& crop)
{
    m_crop = crop.intersected(wholeImage);
    Q_EMIT changed();
}

void PhotoEditorModel::setAspect(AspectPreset aspect)
{
    m_aspect = aspect;
    Q_EMIT changed();
}

void PhotoEditorModel::setSizeMode(SizeMode mode)
{
    m_sizeMode = mode;
    sizeModeChanged();
    Q_EMIT changed();
}

void PhotoEditorModel::setScalePercent(double percent)
{
    m_scalePercent = percent;
    Q_EMIT changed();
}

void PhotoEditorModel::setFitLongest(int pixels)
{
    m_fitLongest = pixels;
    Q_EMIT changed();
}

void PhotoEditorModel::setExactWidth(int pixels)
{
    setExactSize(pixels, m_exactHeight);
}

void PhotoEditorModel::setExactHeight(int pixels)
{
    setExactSize(m_exactWidth, pixels);
}

void PhotoEditorModel::setExactSize(int width, int height)
{
    m_exactWidth = width;
    m_exactHeight = height;
    applyShapeState();
    Q_EMIT changed();
}

void PhotoEditorModel::setExactFit(ExactFit fit)
{
    m_exactFit = fit;
    applyShapeState();
    Q_EMIT changed();
}

void PhotoEditorModel::setFormat(std::optional<ImageOutput> format)
{
    m_format = format;
    setQuality(std::nullopt);
}

void PhotoEditorModel::setQuality(std::optional<double> quality)
{
    m_quality = quality;
    scheduleEstimate();
    Q_EMIT changed();
}

void PhotoEditorModel::setStripMetadata(bool strip)
{
    m_stripMetadata = strip;
    scheduleEstimate();
    Q_EMIT changed();
}

void PhotoEditorModel::setComparing(bool comparing)
{
    m_comparing = comparing;
    Q_EMIT changed();
}

// --- queries

int PhotoEditorModel::quarterTurns() const
{
    return ((m_rotation / 90) % 4 + 4) % 4;
}

QSize PhotoEditorModel::orientedSize() const
{
    return quarterTurns() % 2 == 1 ? pixelSize.transposed() : pixelSize;
}

QRect PhotoEditorModel::pixelCropRect() const
{
    const QSize size = orientedSize();
    const int w = size.width(), h = size.height();
    const int x = std::clamp(rounded(m_crop.x() * w), 0, std::max(w - 1, 0));
    const int y = std::clamp(rounded(m_crop.y() * h), 0, std::max(h - 1, 0));
    // Rounded apart, x and width could reach one pixel past the edge; at least one pixel.
    const int width = std::max(std::min(rounded(m_crop.width() * w), w - x), 1);
    const int height = std::max(std::min(rounded(m_crop.height() * h), h - y), 1);
    return QRect(x, y, width, height);
}

bool PhotoEditorModel::isGeometryEdited() const
{
    return quarterTurns() != 0 || m_flipHorizontal || m_flipVertical || m_crop != wholeImage;
}

std::optional<int> PhotoEditorModel::targetMaxDimension() const
{
    const QRect crop = pixelCropRect();
    const int longer = std::max(crop.width(), crop.height());
    int value = 0;
    switch (m_sizeMode) {
    case SizeMode::original:
    case SizeMode::exact: return std::nullopt;
    case SizeMode::scale: value = int(std::trunc(m_scalePercent * longer / 100.0)); break;
    case SizeMode::fit: value = std::min(std::max(m_fitLongest, 16), longer); break;
    }
    if (value <= 0 || value == longer)
        return std::nullopt;
    return value;
}

std::optional<QSize> PhotoEditorModel::targetExactSize() const
{
    if (m_sizeMode != SizeMode::exact || m_exactWidth <= 0 || m_exactHeight <= 0)
        return std::nullopt;
    const QSize size(m_exactWidth, m_exactHeight);
    if (size == pixelCropRect().size())
        return std::nullopt;
    return size;
}

QSize PhotoEditorModel::outputPixelSize() const
{
    if (const std::optional<QSize> exact = targetExactSize())
        return *exact;
    const QSize crop = pixelCropRect().size();
    if (const std::optional<int> longest = targetMaxDimension()) {
        const double scale = double(*longest) / std::max(crop.width(), crop.height());
        return QSize(std::max(rounded(crop.width() * scale), 1), std::max(rounded(crop.height() * scale), 1));
    }
    return crop;
}

std::optional<double> PhotoEditorModel::exactShapeRatio() const
{
    if (m_sizeMode == SizeMode::exact && m_exactFit == ExactFit::crop && m_exactWidth > 0 && m_exactHeight > 0)
        return double(m_exactWidth) / m_exactHeight;
    return std::nullopt;
}

std::optional<double> PhotoEditorModel::cropShapeRatio() const
{
    if (const std::optional<double> shape = exactShapeRatio())
        return shape;
    const QSize size = orientedSize();
    if (m_aspect == AspectPreset::original)
        return double(size.width()) / std::max(size.height(), 1);
    return ratio(m_aspect);
}

bool PhotoEditorModel::outputKeepsAlpha() const
{
    return m_removeBackground ? !m_fillHex.has_value() : sourceHasAlpha;
}

ImageOutput PhotoEditorModel::effectiveFormat() const
{
    return m_format ? *m_format : m_services->sameFormatOutput(file);
}

ImageOutput PhotoEditorModel::sameFormat() const
{
    return m_services->sameFormatOutput(file);
}

double PhotoEditorModel::shownQuality() const
{
    return m_quality ? *m_quality : m_services->outputQuality(effectiveFormat(), originalQuality, settings);
}

bool PhotoEditorModel::qualityCappedBySource() const
{
    const ImageOutput output = effectiveFormat();
    double standard = 1.0;
    switch (output) {
    case ImageOutput::jpg:
    case ImageOutput::jp2: standard = settings.jpegQuality; break;
    case ImageOutput::heic: standard = settings.heicQuality; break;
    case ImageOutput::webp: standard = settings.webpQuality / 100.0; break;
    case ImageOutput::avif: standard = settings.avifQuality / 100.0; break;
    default: break;
    }
    return m_services->outputQuality(output, originalQuality, settings) < standard;
}

bool PhotoEditorModel::isLosslessEdit() const
{
    return m_services->isLosslessEdit(recipe(), file);
}

bool PhotoEditorModel::isUnchanged() const
{
    return m_adjustments.isNeutral() && !m_removeBackground && !isGeometryEdited() && !targetMaxDimension()
           && !targetExactSize() && !m_format && !m_quality && m_stripMetadata == !settings.preserveMetadata;
}

QImage PhotoEditorModel::croppedDisplay() const
{
    if (m_crop == wholeImage || m_display.isNull())
        return m_display;
    const QRect cut = QRectF(m_crop.x() * m_display.width(), m_crop.y() * m_display.height(),
                             m_crop.width() * m_display.width(), m_crop.height() * m_display.height())
                          .toAlignedRect()
                          .intersected(m_display.rect());
    if (cut.isEmpty())
        return m_display;
    return m_display.copy(cut);
}

OperationOptions PhotoEditorModel::recipe() const
{
    OperationOptions options;
    if (!m_adjustments.isNeutral())
        options.photo = m_adjustments;
    if (quarterTurns() != 0)
        options.rotation = quarterTurns() * 90;
    if (m_flipHorizontal)
        options.flipHorizontal = true;
    if (m_flipVertical)
        options.flipVertical = true;
    if (m_crop != wholeImage)
        options.cropRect = QRectF(pixelCropRect());
    if (m_removeBackground) {
        options.removeBackground = true;
        options.backgroundColor = m_fillHex;
    }
    options.maxDimension = targetMaxDimension();
    if (const std::optional<QSize> exact = targetExactSize())
        options.exactSize = QSizeF(*exact);
    if (m_format)
        options.outputFormat = toString(*m_format);
    options.quality = m_quality;
    options.stripMetadata = m_stripMetadata;
    return options;
}

// --- operations

void PhotoEditorModel::scheduleEstimate()
{
    if (m_estimateTask) {
        m_estimateTask->request_stop();
        m_estimateTask.reset();
    }
    if (m_tab != Tab::exportTab) {
        m_estimating = false;
        Q_EMIT changed();
        return;
    }
    m_estimating = true;
    PhotoEditorServices::EstimateRequest request{recipe(), file, pixelSize, sourceHasAlpha, originalQuality,
                                                 settings};
    std::stop_source task;
    m_estimateTask = task;
    const std::stop_token stop = task.get_token();
    QPointer<PhotoEditorModel> self(this);
    auto activity = std::make_shared<EstimateActivity>();
    m_services->after(estimateDelayMs, this, [self, stop, activity, request = std::move(request)] {
        if (!self || stop.stop_requested())
            return;
        self->m_services->estimate(request, stop, [self, stop, activity](std::optional<PhotoEditorServices::Estimate> estimate) {
            if (!self || stop.stop_requested())
                return;
            self->m_estimatedBytes = estimate ? std::optional<qint64>(estimate->bytes) : std::nullopt;
            self->m_estimateIsExact = estimate && estimate->exact;
            self->m_estimating = false;
            self->m_estimateTask.reset();
            Q_EMIT self->changed();
        });
    });
    Q_EMIT changed();
}

void PhotoEditorModel::renderPreview()
{
    if (m_rendering) {
        m_renderAgain = true;
        return;
    }
    m_rendering = true;
    const bool useCutout = m_removeBackground && m_cutout;
    const QImage source = useCutout ? *m_cutout : original;
    const std::optional<QString> fill = useCutout ? m_fillHex : std::nullopt;
    QPointer<PhotoEditorModel> self(this);
    m_services->render(source, m_adjustments, fill, [self](QImage image) {
        if (!self)
            return;
        self->m_rendered = image;
        self->m_rendering = false;
        self->updateDisplay();
        if (std::exchange(self->m_renderAgain, false))
            self->renderPreview();
    });
}

void PhotoEditorModel::updateSubject()
{
    m_subjectError.reset();
    if (m_removeBackground && !m_cutout) {
        m_findingSubject = true;
        QPointer<PhotoEditorModel> self(this);
        m_services->liftSubject(original, [self](std::optional<QImage> cutout, QString error) {
            if (!self)
                return;
            self->m_findingSubject = false;
            if (cutout) {
                self->m_cutout = *cutout;
                self->renderPreview();
            } else {
                // Only the switch goes back; a format already switched to PNG stays in view.
                self->m_removeBackground = false;
                self->updateSubject();
                self->m_subjectError = error.isEmpty() ? QStringLiteral("Couldn't separate the subject") : error;
            }
            Q_EMIT self->changed();
        });
    } else {
        renderPreview();
    }
    ensureAlphaFormat();
}

void PhotoEditorModel::ensureAlphaFormat()
{
    if (outputKeepsAlpha() && lacksAlpha(effectiveFormat())) {
        m_format = ImageOutput::png;
        m_quality.reset();
        scheduleEstimate();
        m_switchedToPNG = true;
        Q_EMIT changed();
    }
}

void PhotoEditorModel::sizeModeChanged()
{
    if (m_sizeMode == SizeMode::exact && (m_exactWidth == 0 || m_exactHeight == 0)) {
        const QRect crop = pixelCropRect();
        m_exactWidth = crop.width();
        m_exactHeight = crop.height();
    }
    applyShapeState();
}

void PhotoEditorModel::applyShapeState()
{
    if (!exactShapeRatio()) {
        if (m_cropBeforeShape) {
            m_crop = *m_cropBeforeShape;
            m_cropBeforeShape.reset();
        }
        return;
    }
    if (!m_cropBeforeShape)
        m_cropBeforeShape = m_crop;
    fitCropToShape();
}

void PhotoEditorModel::rotateQuarter(bool clockwise)
{
    const auto turn = [clockwise](const QRectF& r) {
        return clockwise ? QRectF(1 - r.bottom(), r.left(), r.height(), r.width())
                         : QRectF(r.top(), 1 - r.right(), r.height(), r.width());
    };
    m_crop = turn(m_crop);
    if (m_cropBeforeShape)
        m_cropBeforeShape = turn(*m_cropBeforeShape);
    std::swap(m_flipHorizontal, m_flipVertical);
    m_rotation += clockwise ? 90 : -90;
    if (m_aspect != AspectPreset::free && m_aspect != AspectPreset::square && m_aspect != AspectPreset::original)
        m_aspect = AspectPreset::free;
    fitCropToShape();
    updateDisplay();
}

void PhotoEditorModel::flip(bool horizontal)
{
    const auto mirror = [horizontal](const QRectF& r) {
        return horizontal ? QRectF(1 - r.right(), r.y(), r.width(), r.height())
                          : QRectF(r.x(), 1 - r.bottom(), r.width(), r.height());
    };
    if (horizontal)
        m_flipHorizontal = !m_flipHorizontal;
    else
        m_flipVertical = !m_flipVertical;
    m_crop = mirror(m_crop);
    if (m_cropBeforeShape)
        m_cropBeforeShape = mirror(*m_cropBeforeShape);
    updateDisplay();
}

void PhotoEditorModel::fitCropToShape()
{
    const std::optional<double> r = exactShapeRatio();
    if (!r || !m_cropBeforeShape)
        return;
    const QRectF b = *m_cropBeforeShape;
    const QSize size = orientedSize();
    const double u = *r * size.height() / std::max(size.width(), 1);
    if (b.width() <= 0 || b.height() <= 0 || std::abs((b.width() / b.height()) / u - 1) <= 0.002) {
        m_crop = b;
        Q_EMIT changed();
        return;
    }
    double w = b.width();
    double h = w / u;
    if (h > b.height()) {
        h = b.height();
        w = u * h;
    }
    const QPointF centre = m_crop.center();
    double x = std::max(centre.x() - w / 2, b.left());
    x = std::min(x, b.right() - w);
    double y = std::max(centre.y() - h / 2, b.top());
    y = std::min(y, b.bottom() - h);
    m_crop = QRectF(x, y, w, h);
    Q_EMIT changed();
}

void PhotoEditorModel::updateDisplay()
{
    m_display = quarterTurns() == 0 && !m_flipHorizontal && !m_flipVertical
                    ? m_rendered
                    : m_services->transformed(m_rendered, quarterTurns(), m_flipHorizontal, m_flipVertical);
    Q_EMIT changed();
}

void PhotoEditorModel::resetGeometry()
{
    m_rotation = 0;
    m_flipHorizontal = false;
    m_flipVertical = false;
    m_crop = wholeImage;
    m_aspect = AspectPreset::free;
    if (m_cropBeforeShape) {
        m_cropBeforeShape = wholeImage;
        fitCropToShape();
    }
    updateDisplay();
}

void PhotoEditorModel::resetAll()
{
    m_adjustments = PhotoAdjustments::neutral();
    renderPreview();
    m_removeBackground = false;
    updateSubject();
    m_fillHex.reset();
    renderPreview();
    ensureAlphaFormat();
    m_sizeMode = SizeMode::original;
    sizeModeChanged();
    resetGeometry();
    m_scalePercent = 50;
    m_fitLongest = 2048;
    m_exactWidth = 0;
    m_exactHeight = 0;
    m_exactFit = ExactFit::crop;
    applyShapeState();
    m_format.reset();
    m_quality.reset();
    scheduleEstimate();
    m_stripMetadata = !settings.preserveMetadata;
    scheduleEstimate();
    m_switchedToPNG = false;
    Q_EMIT changed();
}

} // namespace qv
