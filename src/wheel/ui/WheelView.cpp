#include "wheel/ui/WheelView.h"

#include "graphics/SymbolTable.h"
#include "model/Log.h"
#include "model/settings/ModifierGlyph.h"
#include "model/settings/SettingsReaders.h"
#include "platform/desktop/ReduceMotion.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"
#include "wheel/SymbolImageCache.h"

#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScreen>

#include <cmath>
#include <utility>

namespace qv {

namespace {

constexpr Qt::KeyboardModifiers modifierMask =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// A fast start that settles gently: the open scale and the ring-in.
QEasingCurve settleCurve()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.2, 0.9), QPointF(0.3, 1.0), QPointF(1, 1));
    return curve;
}

// A 0 to 1 animation whose every step goes to the function.
QVariantAnimation* progressAnimation(double seconds, const QEasingCurve& curve,
                                     std::function<void(double)> apply)
{
    auto* animation = new QVariantAnimation;
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(std::max(1, int(std::lround(seconds * 1000))));
    animation->setEasingCurve(curve);
    QObject::connect(animation, &QVariantAnimation::valueChanged,
                     [apply = std::move(apply)](const QVariant& value) { apply(value.toDouble()); });
    return animation;
}

QColor mix(const QColor& a, const QColor& b, double fraction)
{
    const auto lerp = [fraction](double x, double y) { return x + (y - x) * fraction; };
    return QColor::fromRgbF(float(lerp(a.redF(), b.redF())), float(lerp(a.greenF(), b.greenF())),
                            float(lerp(a.blueF(), b.blueF())), float(lerp(a.alphaF(), b.alphaF())));
}

QColor grey(double level, double alpha)
{
    return QColor::fromRgbF(float(level), float(level), float(level), float(alpha));
}

// Text is measured where one point is one unit, as the titles are.
QString wheelName(WheelKind kind)
{
    QString name = toString(kind);
    name[0] = name[0].toUpper();
    return name;
}

Qt::KeyboardModifier modifierFor(ModifierChoice choice)
{
    switch (choice) {
    case ModifierChoice::shift: return Qt::ShiftModifier;
    case ModifierChoice::control: return Qt::ControlModifier;
    case ModifierChoice::option: return Qt::AltModifier;
    case ModifierChoice::command: return Qt::MetaModifier;
    case ModifierChoice::off: break;
    }
    return Qt::NoModifier;
}

Qt::KeyboardModifier modifierOfKey(int key)
{
    switch (key) {
    case Qt::Key_Shift: return Qt::ShiftModifier;
    case Qt::Key_Control: return Qt::ControlModifier;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return Qt::AltModifier;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return Qt::MetaModifier;
    default: return Qt::NoModifier;
    }
}

QString keyFor(const WheelTarget& target)
{
    return QStringLiteral("%1:%2/").arg(toString(target.ring)).arg(target.index);
}

SceneText sceneText(const PlacedText& placed, const QColor& color, bool visible)
{
    return SceneText{placed.lines, placed.font, placed.fontSize, color, placed.lineHeightMultiple,
                     placed.wraps, placed.frame, visible};
}

} // namespace

WheelView::WheelView(QWidget* parent)
    : QWidget(parent)
    , m_accent(currentAccentColor())
    , m_screens(&ScreenProvider::system())
{
    // Symbols come from the theme, else from the program's own drawings, in one colour.
    static const bool symbolsWired = [] {
        SymbolImageCache::shared().setLoader(&oneColourSymbolIcon);
        return true;
    }();
    Q_UNUSED(symbolsWired);

    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAcceptDrops(true);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(accessibilityText());
    connect(&m_timeline, &WheelTimeline::stepped, this, qOverload<>(&QWidget::update));
    resize(500, 500);
}

void WheelView::setClickMode(bool on)
{
    m_isClickMode = on;
    setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
}

void WheelView::setSourceLabel(const QString& label)
{
    m_sourceLabel = label;
    setAccessibleName(accessibilityText());
}

// --- Coordinates -------------------------------------------------------------------------

QPointF WheelView::toView(QPointF widgetPoint) const
{
    return {widgetPoint.x(), height() - widgetPoint.y()};
}

QPointF WheelView::toWidget(QPointF viewPoint) const
{
    return {viewPoint.x(), height() - viewPoint.y()};
}

double WheelView::backingScale() const
{
    if (m_backingScale > 0)
        return m_backingScale;
    const double ratio = devicePixelRatioF();
    if (ratio > 0)
        return ratio;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        return screen->devicePixelRatio();
    return 2.0;
}

bool WheelView::isDarkAppearance() const
{
    return palette().color(QPalette::Window).lightness() < 128;
}

// --- Layout ------------------------------------------------------------------------------

void WheelView::reset()
{
    cancelMoreHoverTimer();
    m_isMoreOpen = false;
    m_moreGeometry.reset();
    m_target = WheelTarget::none();
    m_pressedTarget = WheelTarget::none();
    m_dragEnteredOnce = false;
    // Only a click-mode wheel reads the keys itself; asking the server costs a round trip.
    m_lastFlags = m_isClickMode ? QGuiApplication::queryKeyboardModifiers() & modifierMask
                                : Qt::KeyboardModifiers();
    m_accent = currentAccentColor();
    m_timeline.removeWithPrefix(QStringLiteral("root/"));
    m_scene.rootScale = 1;
    m_scene.rootOpacity = 1;
}

void WheelView::setContent(const std::optional<WheelContent>& content, bool animated)
{
    m_firstPaintDue = content.has_value();
    m_timeline.remove(QStringLiteral("swap/fade"));
    m_scene.fadeFrom.reset();
    m_scene.fadeProgress = 1;
    if (animated && !reduceMotion() && !size().isEmpty()) {
        const double ratio = backingScale();
        QImage old(size() * ratio, QImage::Format_ARGB32_Premultiplied);
        old.setDevicePixelRatio(ratio);
        old.fill(Qt::transparent);
        {
            QPainter painter(&old);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            m_scene.paintSwappable(painter);
        }
        m_scene.fadeFrom = old;
        m_scene.fadeProgress = 0;
        m_timeline.add(QStringLiteral("swap/fade"),
                       progressAnimation(0.12, QEasingCurve::Linear, [this](double v) {
                           m_scene.fadeProgress = v;
                           if (v >= 1)
                               m_scene.fadeFrom.reset();
                       }));
    }

    m_content = content;
    m_target = WheelTarget::none();
    closeMoreRing(false);
    relayout();
    setAccessibleName(accessibilityText());

    if (m_isClickMode && m_content && !m_content->segments.isEmpty()) {
        int first = 0;
        for (int i = 0; i < m_content->segments.size(); ++i) {
            if (!m_content->segments[i].isMore()) {
                first = i;
                break;
            }
        }
        setTarget(WheelTarget::inner(first), false);
    }
}

void WheelView::relayout()
{
    const WheelSceneLayout layout = sceneLayout();
    const bool dark = isDarkAppearance();
    m_scene.center = layout.wheelCenter();
    m_scene.diameter = m_geometry.diameter;
    m_scene.isDark = dark;

    const QRectF square = layout.circleFrame();
    m_scene.circle = QPainterPath();
    m_scene.circle.addEllipse(square);
    // A flat tint stands in for the blurred material.
    m_scene.backdrop = dark ? QColor(38, 39, 44, 246) : QColor(234, 236, 241, 246);
    m_scene.overlayPath = QPainterPath();
    m_scene.overlayPath.addEllipse(square.adjusted(0.5, 0.5, -0.5, -0.5));
    m_scene.overlayFill = dark ? QColor::fromRgbF(0, 0, 0, 0.35f) : QColor::fromRgbF(1, 1, 1, 0.35f);
    m_scene.overlayStroke = QColor::fromRgbF(1, 1, 1, dark ? 0.18f : 0.5f);

    rebuildSegmentLayers();
    rebuildMoreLayers();
    layoutCenter();
    layoutChip();
    Q_EMIT shapeChanged();
    update();
}

QPainterPath WheelView::paintedShape() const
{
    const QPainterPath outline = m_scene.outline();
    if (outline != m_shapeOutline) {
        m_shapeOutline = outline;
        m_shape = outline.simplified();
    }
    return m_shape;
}

WheelSceneLayout WheelView::sceneLayout() const
{
    return WheelSceneLayout{m_geometry, double(height()), backingScale(), m_fontFamily};
}

QColor WheelView::titleColor() const
{
    return isDarkAppearance() ? grey(0.97, 0.95) : grey(0.09, 0.88);
}

WheelSceneLayout::IconSource WheelView::iconSource() const
{
    return [color = titleColor(), scale = backingScale()](const QString& symbol, double pointSize) {
        return symbolIconImage(symbol, pointSize, QFont::DemiBold, color, scale);
    };
}

SceneSegment WheelView::makeSegment(const WheelSegmentModel& model, int index, int count,
                                    const PlacedSegment& placed, bool more) const
{
    const bool dark = isDarkAppearance();
    SceneSegment segment;
    segment.layer.model = model;
    segment.layer.configure(WheelPalette{m_content->kind, dark}, index, count);
    segment.path = placed.path;
    segment.stroke = QColor::fromRgbF(1, 1, 1, dark ? 0.1f : 0.55f);
    segment.fill = segment.layer.fillColor;
    segment.castsShadow = more;
    segment.icon = placed.icon;
    segment.iconFrame = placed.iconFrame;
    segment.title = sceneText(placed.title, titleColor(), true);
    return segment;
}

void WheelView::rebuildSegmentLayers()
{
    m_timeline.removeWithPrefix(QStringLiteral("inner:"));
    m_scene.segments.clear();
    if (!m_content)
        return;
    const int n = int(m_content->segments.size());
    m_geometry.segmentCount = n;
    const QList<PlacedSegment> placed = sceneLayout().segments(*m_content, iconSource());
    for (int i = 0; i < n; ++i)
        m_scene.segments.append(makeSegment(m_content->segments[i], i, n, placed[i], false));
    if (m_target.ring == WheelTarget::Ring::inner && m_target.index < n)
        setHighlighted(m_target, true, false);
    layoutMessage();
}

void WheelView::layoutMessage()
{
    const std::optional<PlacedText> placed = m_content ? sceneLayout().message(*m_content) : std::nullopt;
    if (!placed) {
        m_scene.message.visible = false;
        return;
    }
    const QColor color = isDarkAppearance() ? QColor::fromRgbF(1, 1, 1, 0.62f) : QColor::fromRgbF(0, 0, 0, 0.62f);
    m_scene.message = sceneText(*placed, color, true);
}

void WheelView::rebuildMoreLayers()
{
    m_timeline.removeWithPrefix(QStringLiteral("outer:"));
    m_scene.moreItems.clear();
    const WheelSceneLayout layout = sceneLayout();
    m_moreGeometry = m_content ? layout.moreRing(*m_content, m_isMoreOpen) : std::nullopt;
    if (!m_moreGeometry)
        return;
    const int m = m_moreGeometry->itemCount;
    const QList<PlacedSegment> placed = layout.moreItems(*m_content, *m_moreGeometry, iconSource());
    for (int i = 0; i < m; ++i)
        m_scene.moreItems.append(makeSegment(m_content->overflow[i], i, m, placed[i], true));
    if (m_target.ring == WheelTarget::Ring::outer && m_target.index < m)
        setHighlighted(m_target, true, false);
}

void WheelView::layoutCenter()
{
    const double scale = backingScale();
    const PlacedCenter placed = sceneLayout().center(
        m_sourceLabel, m_thumbnail ? std::optional<QSize>(m_thumbnail->size()) : std::nullopt, m_fileCount);

    m_scene.discFrame = placed.disc;
    m_scene.discTop = mix(m_accent, Qt::white, 0.22);
    m_scene.discBottom = mix(m_accent, Qt::black, 0.12);
    m_scene.rim = QColor::fromRgbF(1, 1, 1, 0.35f);

    m_scene.pillFrame = placed.pill;
    m_scene.showPill = placed.showsPill;
    m_scene.pillText = sceneText(placed.label, mix(m_accent, Qt::black, 0.45), placed.showsPill);

    m_scene.thumb.reset();
    if (placed.thumbnailPixels) {
        // Rendered once at the shown size, filling it; the same picture again (the icon of the
        // same kind of file) is not scaled again.
        const QSize pixels = *placed.thumbnailPixels;
        if (m_filledThumb.isNull() || m_filledFrom != m_thumbnail->cacheKey() || m_filledThumb.size() != pixels
            || m_filledThumb.devicePixelRatio() != scale) {
            QImage filled = m_thumbnail->scaled(pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
            filled = filled.copy((filled.width() - pixels.width()) / 2, (filled.height() - pixels.height()) / 2,
                                 pixels.width(), pixels.height());
            filled.setDevicePixelRatio(scale);
            m_filledThumb = filled;
            m_filledFrom = m_thumbnail->cacheKey();
        }
        m_scene.thumb = m_filledThumb;
    }
    m_scene.thumbFrame = placed.picture;
    m_scene.cardFrame = m_scene.thumbFrame;
    m_scene.showFirstCard = placed.showsFirstCard;
    m_scene.showSecondCard = placed.showsSecondCard;
    update();
}

QString WheelView::chipLine() const
{
    if (!m_content)
        return {};
    const QString name = wheelName(m_content->kind);
    // A wheel opened for given files or by a rest did not come from a modifier: its chip names
    // no key.
    if (!m_isClickMode && m_openedByRest) {
        if (m_nextByRest)
            return name + QStringLiteral("  ·  leave the edge and rest again for ") + wheelName(*m_nextByRest);
        return name;
    }
    const QString glyph = m_isClickMode ? QString() : modifierGlyph(triggerModifier(m_content->kind));
    return glyph.isEmpty() ? name : glyph + QStringLiteral("  ") + name;
}

void WheelView::layoutChip()
{
    if (!m_content || m_isMoreOpen) {
        m_scene.showChip = false;
        m_scene.chipText.visible = false;
        update();
        return;
    }
    const bool dark = isDarkAppearance();
    const QString name = wheelName(m_content->kind);
    QString line = chipLine();
    // During a drag the segment being chosen is named where the pointer is not: a browser's
    // drag picture hanging at the pointer may hide the segment itself.
    bool below = false;
    if (!m_isClickMode && m_target.ring == WheelTarget::Ring::inner) {
        if (const std::optional<WheelSegmentModel> model = segmentModel(m_target); model && !model->isMore()) {
            line = name + QStringLiteral("  ·  ") + QString(model->title).replace(QLatin1Char('\n'), QLatin1Char(' '));
            below = m_geometry.labelCenter(m_target.index).y() > m_geometry.center.y();
        }
    }
    const QRectF before = m_scene.chipFrame;
    const PlacedChip placed = sceneLayout().chip(line, below);
    m_scene.chipFrame = placed.frame;
    m_scene.chipText = sceneText(placed.text, dark ? QColor::fromRgbF(1, 1, 1, 0.85f) : QColor::fromRgbF(0, 0, 0, 0.85f),
                                 true);
    m_scene.chipBackground = dark ? grey(0.13, 0.9) : grey(1.0, 0.92);
    m_scene.chipBorder = dark ? QColor::fromRgbF(1, 1, 1, 0.12f) : QColor::fromRgbF(0, 0, 0, 0.12f);
    m_scene.showChip = true;
    if (before != m_scene.chipFrame)
        Q_EMIT shapeChanged();
    update();
}

// --- The More ring and the animations ----------------------------------------------------

void WheelView::openMoreRing()
{
    if (!m_content || m_content->overflow.isEmpty() || m_isMoreOpen)
        return;
    m_isMoreOpen = true;
    // The controller enlarges the panel and lays the view out again.
    Q_EMIT panelResizeRequested(true);
    rebuildMoreLayers();
    layoutChip();
    Q_EMIT shapeChanged();
    if (!reduceMotion()) {
        for (int i = 0; i < m_scene.moreItems.size(); ++i) {
            const WheelTarget item = WheelTarget::outer(i);
            m_scene.moreItems[i].opacity = 0;
            m_timeline.add(keyFor(item) + QStringLiteral("appear"),
                           progressAnimation(0.16, settleCurve(), [this, item](double v) {
                               if (SceneSegment* segment = sceneSegment(item)) {
                                   segment->opacity = v;
                                   segment->appearScale = 0.9 + 0.1 * v;
                               }
                           }),
                           i * 0.012);
        }
    }
    update();
}

void WheelView::closeMoreRing(bool notify)
{
    cancelMoreHoverTimer();
    if (!m_isMoreOpen)
        return;
    m_isMoreOpen = false;
    if (m_target.ring == WheelTarget::Ring::outer) {
        m_target = WheelTarget::none();
        Q_EMIT targetChanged(m_target);
    }
    rebuildMoreLayers();
    layoutChip();
    Q_EMIT shapeChanged();
    update();
    if (notify)
        Q_EMIT panelResizeRequested(false);
}

void WheelView::cancelMoreHoverTimer()
{
    if (m_moreHoverTimer != 0)
        m_timeline.cancel(m_moreHoverTimer);
    m_moreHoverTimer = 0;
}

void WheelView::updateMoreHoverTimer()
{
    const std::optional<WheelSegmentModel> segment = segmentModel(m_target);
    if (!segment || !segment->isMore()) {
        cancelMoreHoverTimer();
        return;
    }
    if (m_isMoreOpen || m_isClickMode || m_moreHoverTimer != 0)
        return;
    m_moreHoverTimer = m_timeline.schedule(0.4, [this] {
        m_moreHoverTimer = 0;
        const std::optional<WheelSegmentModel> still = segmentModel(m_target);
        if (still && still->isMore())
            openMoreRing();
    });
}

void WheelView::playOpenAnimation()
{
    if (!reduceMotion()) {
        m_scene.rootScale = 0.85;
        m_timeline.add(QStringLiteral("root/open"),
                       progressAnimation(0.14, settleCurve(),
                                         [this](double v) { m_scene.rootScale = 0.85 + 0.15 * v; }));
    }
    m_scene.rootOpacity = 0;
    m_timeline.add(QStringLiteral("root/openFade"),
                   progressAnimation(0.14, QEasingCurve::Linear,
                                     [this](double v) { m_scene.rootOpacity = v; }));
}

// --- Targets -----------------------------------------------------------------------------

SceneSegment* WheelView::sceneSegment(const WheelTarget& target)
{
    QList<SceneSegment>* ring = target.ring == WheelTarget::Ring::inner ? &m_scene.segments
        : target.ring == WheelTarget::Ring::outer                       ? &m_scene.moreItems
                                                                        : nullptr;
    if (!ring || target.index < 0 || target.index >= ring->size())
        return nullptr;
    return &(*ring)[target.index];
}

void WheelView::setHighlighted(const WheelTarget& target, bool on, bool animated)
{
    SceneSegment* segment = sceneSegment(target);
    if (!segment)
        return;
    const std::optional<HighlightChange> change = segment->layer.setHighlighted(on, animated, reduceMotion());
    if (!change)
        return;
    const QString key = keyFor(target);
    if (change->scale) {
        Spring spring = *change->scale;
        spring.from = segment->scale;
        const double duration = spring.settlingDuration();
        m_timeline.add(key + QStringLiteral("hoverScale"),
                       progressAnimation(duration, QEasingCurve::Linear, [this, target, spring, duration](double v) {
                           if (SceneSegment* s = sceneSegment(target))
                               s->scale = v >= 1 ? spring.to : spring.valueAt(v * duration);
                       }));
    } else {
        m_timeline.remove(key + QStringLiteral("hoverScale"));
        segment->scale = segment->layer.scale;
    }
    if (change->fill) {
        const FillFade fade{segment->fill, segment->layer.fillColor, change->fill->duration};
        m_timeline.add(key + QStringLiteral("hoverFill"),
                       progressAnimation(fade.duration, QEasingCurve::Linear, [this, target, fade](double v) {
                           if (SceneSegment* s = sceneSegment(target))
                               s->fill = v >= 1 ? fade.to : mix(fade.from, fade.to, v);
                       }));
    } else {
        m_timeline.remove(key + QStringLiteral("hoverFill"));
        segment->fill = segment->layer.fillColor;
    }
    update();
}

void WheelView::setTarget(const WheelTarget& target, bool animated)
{
    if (target == m_target)
        return;
    setHighlighted(m_target, false, animated);
    m_target = target;
    setHighlighted(target, true, animated);
    updateMoreHoverTimer();
    layoutChip();
    Q_EMIT targetChanged(m_target);
}

void WheelView::clearTarget()
{
    if (m_target.isNone())
        return;
    setHighlighted(m_target, false, true);
    m_target = WheelTarget::none();
    updateMoreHoverTimer();
    layoutChip();
    Q_EMIT targetChanged(m_target);
}

WheelTarget WheelView::targetAt(QPointF viewPoint) const
{
    if (m_moreGeometry) {
        if (const std::optional<int> item = m_moreGeometry->hitTest(viewPoint))
            return WheelTarget::outer(*item);
    }
    const WheelHit hit = m_geometry.hitTest(viewPoint);
    if (hit.kind == WheelHit::Kind::segment)
        return WheelTarget::inner(hit.segment);
    return WheelTarget::none();
}

std::optional<WheelSegmentModel> WheelView::segmentModel(const WheelTarget& target) const
{
    if (!m_content || target.index < 0)
        return std::nullopt;
    if (target.ring == WheelTarget::Ring::inner && target.index < m_content->segments.size())
        return m_content->segments[target.index];
    if (target.ring == WheelTarget::Ring::outer && target.index < m_content->overflow.size())
        return m_content->overflow[target.index];
    return std::nullopt;
}

void WheelView::pulseTarget(const WheelTarget& target)
{
    SceneSegment* segment = sceneSegment(target);
    if (!segment)
        return;
    const std::optional<SegmentPulse> pulse = segment->layer.pulse(reduceMotion());
    if (!pulse)
        return;
    const SegmentPulse keyframes = *pulse;
    m_timeline.add(keyFor(target) + QStringLiteral("pulse"),
                   progressAnimation(keyframes.duration, QEasingCurve::Linear, [this, target, keyframes](double v) {
                       SceneSegment* s = sceneSegment(target);
                       if (!s)
                           return;
                       if (v >= 1) {
                           s->pulseScale.reset();
                           return;
                       }
                       const int k = v < keyframes.keyTimes[1] ? 0 : 1;
                       const double span = keyframes.keyTimes[k + 1] - keyframes.keyTimes[k];
                       const double local = (v - keyframes.keyTimes[k]) / span;
                       const double eased = keyframes.easings[k].valueForProgress(local);
                       s->pulseScale = keyframes.scales[k] + (keyframes.scales[k + 1] - keyframes.scales[k]) * eased;
                   }));
}

void WheelView::moveTarget(int delta)
{
    if (!m_content)
        return;
    const int n = int(m_content->segments.size());
    const int m = int(m_content->overflow.size());
    if (m_target.ring == WheelTarget::Ring::inner && n > 0) {
        setTarget(WheelTarget::inner((m_target.index + delta + n) % n), true);
    } else if (m_target.ring == WheelTarget::Ring::outer && m > 0) {
        setTarget(WheelTarget::outer((m_target.index + delta + m) % m), true);
    } else if (n > 0) {
        setTarget(WheelTarget::inner(delta < 1 ? n - 1 : 0), true);
    }
}

void WheelView::handleTab()
{
    if (!m_content || m_content->overflow.isEmpty())
        return;
    if (m_target.ring == WheelTarget::Ring::outer) {
        int more = 0;
        for (int i = 0; i < m_content->segments.size(); ++i) {
            if (m_content->segments[i].isMore()) {
                more = i;
                break;
            }
        }
        setTarget(WheelTarget::inner(more), true);
        return;
    }
    if (!m_isMoreOpen)
        openMoreRing();
    setTarget(WheelTarget::outer(0), true);
}

void WheelView::activateTarget(const WheelTarget& target)
{
    const std::optional<WheelSegmentModel> segment = segmentModel(target);
    if (!segment)
        return;
    if (segment->isMore()) {
        if (m_isMoreOpen)
            closeMoreRing(true);
        else
            openMoreRing();
        if (m_isMoreOpen)
            setTarget(WheelTarget::outer(0), true);
        return;
    }
    pulseTarget(target);
    Q_EMIT segmentChosen(*segment);
}

QString WheelView::accessibilityText() const
{
    if (!m_content)
        return QStringLiteral("Quorvenda");
    QStringList titles;
    for (const WheelSegmentModel& segment : m_content->segments)
        titles.append(segment.title);
    return wheelName(m_content->kind) + QStringLiteral(" wheel for ") + m_sourceLabel
        + QStringLiteral(": ") + titles.join(QStringLiteral(", "));
}

// --- Events ------------------------------------------------------------------------------

void WheelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_scene.paint(painter);
    if (std::exchange(m_firstPaintDue, false) && m_content)
        qCDebug(wheelLog, "Drew the %s wheel", qUtf8Printable(toString(m_content->kind)));
}

void WheelView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    relayout();
}

void WheelView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        relayout();
}

bool WheelView::event(QEvent* event)
{
    // Tab belongs to the wheel, not to focus changes.
    if (event->type() == QEvent::KeyPress && m_isClickMode) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            handleTab();
            event->accept();
            return true;
        }
    }
    if (event->type() == QEvent::ScreenChangeInternal) {
        const bool handled = QWidget::event(event);
        relayout();
        return handled;
    }
    return QWidget::event(event);
}

void WheelView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_isClickMode)
        return;
    const WheelTarget under = targetAt(toView(event->position()));
    // Over the centre or outside, the last highlight stays for the keyboard.
    if (!under.isNone())
        setTarget(under, true);
}

void WheelView::mousePressEvent(QMouseEvent* event)
{
    if (!m_isClickMode)
        return;
    const QPointF p = toView(event->position());
    m_pressedTarget = targetAt(p);
    if (!m_pressedTarget.isNone())
        return;
    const double distance = std::hypot(p.x() - m_geometry.center.x(), p.y() - m_geometry.center.y());
    const double d = m_geometry.diameter;
    const double moreOuter = d * 0.17 + d * 0.5 - 2;
    if (distance > d / 2 && (!m_isMoreOpen || distance > moreOuter + 4))
        Q_EMIT closeRequested(true);
}

void WheelView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_isClickMode)
        return;
    const WheelTarget under = targetAt(toView(event->position()));
    if (!under.isNone() && under == m_pressedTarget)
        activateTarget(under);
}

void WheelView::keyPressEvent(QKeyEvent* event)
{
    if (!m_isClickMode) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (const Qt::KeyboardModifier modifier = modifierOfKey(event->key()); modifier != Qt::NoModifier) {
        // The press of a modifier may not list the modifier itself yet.
        modifiersChanged(event->modifiers() | modifier);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!m_target.isNone())
            activateTarget(m_target);
        return;
    case Qt::Key_Escape:
        Q_EMIT closeRequested(true);
        return;
    case Qt::Key_Right:
    case Qt::Key_Down:
        moveTarget(1);
        return;
    case Qt::Key_Left:
    case Qt::Key_Up:
        moveTarget(-1);
        return;
    default:
        if (m_closeShortcut && Shortcut::fromKeyEvent(*event) == m_closeShortcut) {
            Q_EMIT closeRequested(true);
            return;
        }
        QWidget::keyPressEvent(event);
    }
}

void WheelView::keyReleaseEvent(QKeyEvent* event)
{
    if (m_isClickMode) {
        if (const Qt::KeyboardModifier modifier = modifierOfKey(event->key()); modifier != Qt::NoModifier) {
            modifiersChanged(event->modifiers() & ~modifier);
            return;
        }
    }
    QWidget::keyReleaseEvent(event);
}

void WheelView::modifiersChanged(Qt::KeyboardModifiers flags)
{
    std::optional<WheelKind> chosen;
    for (const WheelKind kind : allCases<WheelKind>()) {
        const Qt::KeyboardModifier modifier = modifierFor(triggerModifier(kind));
        if (modifier != Qt::NoModifier && flags.testFlag(modifier) && !m_lastFlags.testFlag(modifier)) {
            chosen = kind;
            break;
        }
    }
    if (chosen && (!m_content || m_content->kind != *chosen))
        Q_EMIT wheelSwitchRequested(*chosen);
    m_lastFlags = flags & modifierMask;
}

bool WheelView::answerDrag(QDragMoveEvent* event)
{
    const WheelTarget under = targetAt(toView(event->position()));
    const bool moved = under != m_target;
    setTarget(under, true);
    const std::optional<WheelSegmentModel> segment = segmentModel(under);
    if (moved && segment)
        qCDebug(wheelLog, "Drag over %s", qUtf8Printable(segment->id));
    const bool droppable = segment && !segment->isMore();
    if (droppable) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
    return droppable;
}

void WheelView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!m_dragEnteredOnce) {
        m_dragEnteredOnce = true;
        const QPointF global = flipY(QPointF(mapToGlobal(event->position())), m_screens->primaryHeight());
        // Data without a file (a browser's picture) is read now, so the centre can show it.
        Q_EMIT dragEnteredFirst(WheelDrop::fromMimeData(*event->mimeData(), global,
                                                        event->modifiers().testFlag(Qt::AltModifier),
                                                        true));
    }
    if (!answerDrag(event)) {
        // Accepting the entry keeps the moves coming; the action says nothing drops here.
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
    }
}

void WheelView::dragMoveEvent(QDragMoveEvent* event)
{
    answerDrag(event);
}

void WheelView::dragLeaveEvent(QDragLeaveEvent*)
{
    clearTarget();
}

void WheelView::dropEvent(QDropEvent* event)
{
    const WheelTarget under = targetAt(toView(event->position()));
    const std::optional<WheelSegmentModel> segment = segmentModel(under);
    if (!segment || segment->isMore()) {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
        Q_EMIT closeRequested(true);
        return;
    }
    pulseTarget(under);
    const QPointF global = flipY(QPointF(mapToGlobal(event->position())), m_screens->primaryHeight());
    const WheelDrop drop = WheelDrop::fromMimeData(*event->mimeData(), global,
                                                   event->modifiers().testFlag(Qt::AltModifier));
    event->setDropAction(Qt::CopyAction);
    event->accept();
    qCDebug(wheelLog) << "Drop on" << segment->id;
    Q_EMIT segmentDropped(*segment, drop);
}

} // namespace qv
