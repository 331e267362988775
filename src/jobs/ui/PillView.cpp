#include "jobs/ui/PillView.h"

#include "graphics/Spring.h"
#include "graphics/SymbolTable.h"
#include "jobs/FailureTitle.h"
#include "jobs/ui/HoverState.h"
#include "jobs/ui/PillBackground.h"
#include "model/settings/SettingsReaders.h"
#include "platform/desktop/ReduceMotion.h"

#include <QAccessible>
#include <QEnterEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPainter>
#include <QToolTip>

#include <utility>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

const QString separator = QStringLiteral(" · ");
const QColor green(52, 199, 89);
const QColor orange(255, 149, 0);
const QColor red(255, 59, 48);
const QColor grey(142, 142, 147);

constexpr double leadingPadding = 12;
constexpr double trailingPadding = 10;
constexpr double badgeSize = 30;
constexpr double buttonSize = 26;
constexpr double stackSpacing = 10;
constexpr double minimumSpacer = 4;
constexpr int barSlideMs = 100;

QColor mix(const QColor& a, const QColor& b, double fraction)
{
    const auto lerp = [fraction](double x, double y) { return x + (y - x) * fraction; };
    return QColor::fromRgbF(float(lerp(a.redF(), b.redF())), float(lerp(a.greenF(), b.greenF())),
                            float(lerp(a.blueF(), b.blueF())), float(lerp(a.alphaF(), b.alphaF())));
}

QRectF scaledAround(const QRectF& box, double scale)
{
    const QPointF c = box.center();
    return {c.x() - box.width() * scale / 2, c.y() - box.height() * scale / 2, box.width() * scale,
            box.height() * scale};
}

QEasingCurve easeInOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

QString fileNameOf(const QUrl& url)
{
    return QFileInfo(url.path()).fileName();
}

QFont pixelFont(double pixels, QFont::Weight weight)
{
    QFont f;
    f.setPixelSize(int(pixels));
    f.setWeight(weight);
    return f;
}

QFont titleFont()
{
    return pixelFont(13, QFont::DemiBold);
}

QFont detailFont()
{
    return pixelFont(11, QFont::Normal);
}

QFont percentFont()
{
    // Drawn right-aligned in a box as wide as "100 %", so it never pushes the text.
    return pixelFont(12, QFont::Medium);
}

} // namespace

PillView::PillView(JobPtr job, HoverState& hover, std::function<void(Action)> perform, QWidget* parent)
    : QWidget(parent)
    , m_job(std::move(job))
    , m_hover(hover)
    , m_perform(std::move(perform))
{
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    resize(344, 56);
    connect(m_job.get(), &Job::changed, this, &PillView::jobChanged);
    jobChanged();
}

PillView::~PillView() = default;

PillView::Look PillView::statusIcon(const Job& job)
{
    switch (job.state()) {
    case Job::State::receiving:
    case Job::State::waiting:
    case Job::State::running: return {job.symbol(), currentAccentColor()};
    case Job::State::finished:
        if (job.failedCount() > 0)
            return {QStringLiteral("exclamationmark.circle.fill"), orange};
        return {QStringLiteral("checkmark.circle.fill"), green};
    case Job::State::failed: return {QStringLiteral("xmark.octagon.fill"), red};
    case Job::State::cancelled: return {QStringLiteral("stop.circle.fill"), grey};
    }
    return {job.symbol(), currentAccentColor()};
}

QString PillView::titleText(const Job& job)
{
    switch (job.state()) {
    case Job::State::receiving:
    case Job::State::waiting:
    case Job::State::running:
        if (job.isCancelling())
            return QStringLiteral("Cancelling…");
        if (job.state() == Job::State::receiving)
            return QStringLiteral("Receiving…");
        return job.title() + QStringLiteral("…");
    case Job::State::finished:
        if (job.outputs().size() == 1)
            return QStringLiteral("Saved · ") + fileNameOf(job.outputs().first());
        if (job.outputs().size() > 1)
            return QStringLiteral("Saved %1 files").arg(job.outputs().size());
        if (!job.messages().isEmpty())
            return job.messages().first();
        return QStringLiteral("Done");
    case Job::State::failed: return failureTitle(job.title());
    case Job::State::cancelled: return QStringLiteral("Cancelled");
    }
    return {};
}

QString PillView::detailText(const Job& job)
{
    switch (job.state()) {
    case Job::State::receiving:
        if (job.fileCount() == 1)
            return QStringLiteral("Waiting for the app to provide the file");
        return QStringLiteral("Waiting for %1 files").arg(job.fileCount());
    case Job::State::waiting:
    case Job::State::running: {
        QString files = job.fileCount() == 1 ? job.firstFileName() : QStringLiteral("%1 files").arg(job.fileCount());
        if (job.state() == Job::State::running && !job.isCancelling()) {
            const QString left =
                timeLeftText(job.fraction(), job.startedAt().msecsTo(QDateTime::currentDateTimeUtc()));
            if (!left.isEmpty())
                files = left + separator + files;
        }
        return files;
    }
    case Job::State::finished: {
        QStringList parts;
        if (!job.outputs().isEmpty()) {
            const QString folder = QFileInfo(QFileInfo(job.outputs().first().path()).path()).fileName();
            parts.append(QStringLiteral("in ") + folder);
            if (!job.messages().isEmpty())
                parts.append(job.messages().join(separator));
        } else if (job.messages().size() == 1) {
            parts.append(job.title());
        } else if (job.messages().size() > 1) {
            parts.append(job.messages().mid(1).join(separator));
        }
        if (job.failedCount() >= 1)
            parts.append(QStringLiteral("%1 failed").arg(job.failedCount()));
        return parts.join(separator);
    }
    case Job::State::failed:
        return job.failure() ? job.failure()->message : QStringLiteral("Something went wrong");
    case Job::State::cancelled: return job.title();
    }
    return {};
}

std::pair<double, double> PillView::textOpacities(double blend)
{
    // The old words go before the new ones come: two texts over each other read as neither.
    return {std::clamp(1 - 2 * blend, 0.0, 1.0), std::clamp(2 * blend - 1, 0.0, 1.0)};
}

QString PillView::timeLeftText(double fraction, qint64 elapsedMs)
{
    // Too early, or too little done, for the pace to say anything.
    if (!(fraction >= 0.005) || fraction >= 1 || elapsedMs < 5000)
        return {};
    const double left = elapsedMs / 1000.0 * (1 - fraction) / fraction;
    if (left < 60)
        return QStringLiteral("less than a minute left");
    const long long minutes = std::llround(left / 60);
    if (minutes < 90)
        return QStringLiteral("about %1 min left").arg(minutes);
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

QString PillView::percentText(double fraction)
{
    return QString::number(static_cast<long long>(std::round(fraction * 100))) + QStringLiteral(" %");
}

QList<PillView::Control> PillView::controls(const Job& job)
{
    const Control close{Action::close, QStringLiteral("xmark"), QStringLiteral("Close")};
    if (job.isCancelling())
        return {}; // asked once; nothing more to ask
    if (job.isActive())
        return {{Action::cancel, QStringLiteral("xmark"), QStringLiteral("Cancel")}};
    if (job.state() == Job::State::finished && !job.outputs().isEmpty())
        return {{Action::reveal, QStringLiteral("magnifyingglass"), QStringLiteral("Show in Folder")},
                {Action::open, QStringLiteral("arrow.up.forward.app"), QStringLiteral("Open")},
                {Action::copy, QStringLiteral("doc.on.doc"), QStringLiteral("Copy")}};
    if (job.state() == Job::State::failed)
        return {{Action::details, QString(), QStringLiteral("Details")}, close};
    return {close};
}

double PillView::barWidth(double trackWidth, double fraction)
{
    return std::max(trackWidth * fraction, 6.0);
}

bool PillView::showsProgressTrack() const
{
    return m_job->isActive();
}

bool PillView::showsPercent() const
{
    return m_job->state() == Job::State::running && m_job->fraction() > 0 && !m_job->isCancelling();
}

bool PillView::isIndeterminate() const
{
    return showsProgressTrack() && !showsPercent();
}

QList<PillView::Placed> PillView::placedControls() const
{
    return placedControls(controls(*m_job), m_job->isActive());
}

QList<PillView::Placed> PillView::placedControls(const QList<Control>& list, bool active) const
{
    const double spacing = active ? 6 : 4;
    QList<Placed> placed;
    double right = width() - trailingPadding;
    const QFontMetricsF details(pixelFont(12, QFont::DemiBold));
    for (auto it = list.crbegin(); it != list.crend(); ++it) {
        const double w = it->symbol.isEmpty() ? details.horizontalAdvance(it->help) + 8 : buttonSize;
        const double h = it->symbol.isEmpty() ? 22 : buttonSize;
        placed.prepend({*it, QRectF(right - w, (height() - h) / 2, w, h)});
        right -= w + spacing;
    }
    return placed;
}

QRectF PillView::percentRect() const
{
    return showsPercent() ? percentRect(placedControls()) : QRectF();
}

QRectF PillView::percentRect(const QList<Placed>& placed) const
{
    const double right = placed.isEmpty() ? width() - trailingPadding : placed.first().rect.left() - 6;
    const double w = QFontMetricsF(percentFont()).horizontalAdvance(QStringLiteral("100 %"));
    return {right - w, 0, w, double(height())};
}

QRectF PillView::trackRect() const
{
    return {22, height() - 5.0 - 3.0, width() - 44.0, 3};
}

PillView::Face PillView::currentFace() const
{
    const Job& job = *m_job;
    Face face;
    face.state = job.state();
    face.look = statusIcon(job);
    face.title = titleText(job);
    face.titleName = titleName(job);
    face.detail = detailText(job);
    face.detailName = detailName(job);
    face.controls = placedControls();
    if (showsPercent()) {
        face.percent = percentText(job.fraction());
        face.percentRect = percentRect(face.controls);
    }
    face.track = showsProgressTrack();
    face.determinate = showsPercent();
    face.barWidth = m_shownBar;
    if (job.state() == Job::State::failed)
        face.tint = red;
    return face;
}

QRectF PillView::controlRect(Action action) const
{
    for (const Placed& p : placedControls()) {
        if (p.control.action == action)
            return p.rect;
    }
    return {};
}

void PillView::jobChanged()
{
    const QString title = titleText(*m_job);
    const QString detail = detailText(*m_job);
    setAccessibleName(title + QStringLiteral(", ") + detail);

    Face before = m_face;
    before.barWidth = m_shownBar; // where the bar stands now, also mid-slide
    updateBar(m_hasFace && m_face.determinate);
    if (m_hasFace && before.state != m_job->state())
        startStateTransition(before);
    m_face = currentFace();
    m_hasFace = true;
    updateIndeterminate();
    update();
}

void PillView::startStateTransition(const Face& from)
{
    if (m_stateSpring)
        m_stateSpring->stop(); // deletes it
    m_stateSpring = nullptr;
    m_stateProgress = 1;
    if (reduceMotion())
        return;
    m_from = from;
    m_stateProgress = 0;
    const Spring spring = Spring::withResponse(0.3, 0.85);
    const double seconds = spring.settlingDuration();
    auto* animation = new QVariantAnimation(this);
    animation->setObjectName(QStringLiteral("stateSpring"));
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(std::max(1, int(std::lround(seconds * 1000))));
    connect(animation, &QVariantAnimation::valueChanged, this, [this, spring, seconds](const QVariant& v) {
        const double t = v.toDouble();
        m_stateProgress = t >= 1 ? 1 : spring.valueAt(t * seconds);
        update();
    });
    connect(animation, &QAbstractAnimation::finished, this, [this] {
        m_stateSpring = nullptr;
        update();
    });
    m_stateSpring = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PillView::updateBar(bool wasDeterminate)
{
    if (!showsPercent()) {
        if (m_barSlide)
            m_barSlide->stop();
        m_barSlide = nullptr;
        m_shownBar = m_barTarget = 0;
        return;
    }
    const double target = barWidth(trackRect().width(), m_job->fraction());
    if (m_barSlide && target == m_barTarget)
        return; // an unrelated change: let the slide run on
    m_barTarget = target;
    if (m_barSlide)
        m_barSlide->stop();
    m_barSlide = nullptr;
    // A bar that just appeared starts at its width; only later moves slide.
    if (!wasDeterminate || reduceMotion() || m_shownBar == target) {
        m_shownBar = target;
        return;
    }
    auto* slide = new QVariantAnimation(this);
    slide->setObjectName(QStringLiteral("barWidth"));
    slide->setStartValue(m_shownBar);
    slide->setEndValue(target);
    slide->setDuration(barSlideMs);
    slide->setEasingCurve(QEasingCurve::Linear);
    connect(slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_shownBar = v.toDouble();
        update();
    });
    connect(slide, &QAbstractAnimation::finished, this, [this] { m_barSlide = nullptr; });
    m_barSlide = slide;
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

void PillView::updateIndeterminate()
{
    if (isIndeterminate() && !m_sweep) {
        auto* sweep = new QVariantAnimation(this);
        sweep->setStartValue(-0.35);
        sweep->setEndValue(1.0);
        sweep->setDuration(1100);
        sweep->setEasingCurve(easeInOut());
        connect(sweep, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
            m_phase = v.toDouble();
            update();
        });
        // Back and forth for ever.
        connect(sweep, &QVariantAnimation::finished, this, [sweep] {
            sweep->setDirection(sweep->direction() == QAbstractAnimation::Forward
                                    ? QAbstractAnimation::Backward
                                    : QAbstractAnimation::Forward);
            sweep->start();
        });
        m_sweep = sweep;
        sweep->start();
    } else if (!isIndeterminate() && m_sweep) {
        m_sweep->disconnect(this);
        m_sweep->stop();
        m_sweep->deleteLater();
        m_sweep = nullptr;
    }
}

void PillView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const Face now = currentFace();
    // While a change of state settles, the old look gives way to the new one.
    const Face* from = m_stateSpring ? &m_from : nullptr;
    const double blend = std::clamp(m_stateProgress, 0.0, 1.0);

    paintPillBackground(p, rect(), palette(), from ? from->tint : now.tint);
    if (from && from->tint != now.tint) {
        p.save();
        p.setOpacity(blend);
        paintPillBackground(p, rect(), palette(), now.tint);
        p.restore();
    }

    paintBadge(p, now, from, blend);

    if (from && (from->title != now.title || from->detail != now.detail)) {
        const auto [out, in] = textOpacities(blend);
        paintTexts(p, *from, out);
        paintTexts(p, now, in);
    } else {
        paintTexts(p, now, 1);
    }

    bool controlsChange = false;
    if (from) {
        controlsChange = from->controls.size() != now.controls.size() || from->percent.isEmpty() != now.percent.isEmpty();
        for (int i = 0; !controlsChange && i < now.controls.size(); ++i)
            controlsChange = from->controls[i].control.action != now.controls[i].control.action;
    }
    if (controlsChange) {
        paintControls(p, *from, 1 - blend, false);
        paintControls(p, now, blend, true);
    } else {
        paintControls(p, now, 1, true);
    }

    if (from && from->track != now.track) {
        paintTrack(p, *from, 1 - blend);
        paintTrack(p, now, blend);
    } else {
        paintTrack(p, now, 1);
    }
}

void PillView::paintBadge(QPainter& p, const Face& now, const Face* from, double blend) const
{
    const QRectF badge(leadingPadding, (height() - badgeSize) / 2, badgeSize, badgeSize);
    const QColor color = from ? mix(from->look.color, now.look.color, blend) : now.look.color;
    QColor wash = color;
    wash.setAlphaF(wash.alphaF() * 0.14f);
    p.setPen(Qt::NoPen);
    p.setBrush(wash);
    p.drawEllipse(badge);
    const QRectF glyph = badge.adjusted(6.5, 6.5, -6.5, -6.5);
    if (!from || from->look.symbol == now.look.symbol) {
        paintSymbol(p, now.look.symbol, glyph, color);
        return;
    }
    // Replacing the symbol: the old one shrinks away, the new one grows in (and, riding the
    // spring, swells a touch past its size before it settles).
    p.save();
    p.setOpacity(std::clamp(1 - 2 * blend, 0.0, 1.0));
    paintSymbol(p, from->look.symbol, scaledAround(glyph, 1 - 0.5 * std::min(2 * blend, 1.0)), color);
    p.setOpacity(std::clamp((blend - 0.25) / 0.5, 0.0, 1.0));
    paintSymbol(p, now.look.symbol, scaledAround(glyph, 0.5 + 0.5 * m_stateProgress), color);
    p.restore();
}

void PillView::paintTexts(QPainter& p, const Face& face, double opacity) const
{
    if (opacity <= 0)
        return;
    p.save();
    p.setOpacity(opacity);
    const double textLeft = leadingPadding + badgeSize + stackSpacing;
    const double textWidth = lineWidth(face);
    const QFontMetricsF titleMetrics(titleFont());
    const QFontMetricsF detailMetrics(detailFont());
    const double titleHeight = titleMetrics.height();
    const double detailHeight = face.detail.isEmpty() ? 0 : detailMetrics.height() + 1;
    const double y = (height() - titleHeight - detailHeight) / 2;
    const Line title = fitted(face.title, titleFont(), textWidth, face.titleName);
    p.setFont(title.font);
    p.setPen(primaryTextColor(palette()));
    p.drawText(QRectF(textLeft, y, textWidth, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, title.text);
    if (!face.detail.isEmpty()) {
        const Line detail = fitted(face.detail, detailFont(), textWidth, face.detailName);
        p.setFont(detail.font);
        p.setPen(secondaryTextColor(palette()));
        p.drawText(QRectF(textLeft, y + titleHeight + 1, textWidth, detailMetrics.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, detail.text);
    }
    p.restore();
}

double PillView::lineWidth(const Face& face) const
{
    // Badge, text, a spacer of at least 4 points and the controls, 10 points apart.
    const double textLeft = leadingPadding + badgeSize + stackSpacing;
    double textRight = face.controls.isEmpty() ? width() - trailingPadding : face.controls.first().rect.left();
    if (!face.percent.isEmpty())
        textRight = face.percentRect.left();
    return std::max(textRight - stackSpacing - minimumSpacer - stackSpacing - textLeft, 10.0);
}

PillView::Line PillView::fitted(const QString& text, const QFont& font, double width, const QString& name)
{
    // A line a little too long for the system's font (DejaVu Sans is wide) is drawn a little
    // smaller, down to 10 pixels, rather than lose its end: "Saved · report (merged).pdf" stays
    // whole.
    const int size = font.pixelSize();
    const int smallest = std::min(size, std::max(10, int(std::floor(size * 0.8))));
    for (int pixels = size; pixels >= smallest; --pixels) {
        QFont smaller = font;
        smaller.setPixelSize(pixels);
        if (QFontMetricsF(smaller).horizontalAdvance(text) <= width)
            return {text, smaller};
    }
    // Too long for that: a name loses its middle, so "Saved · " and the name's start and
    // extension stay; a sentence without one is cut at its end, as it reads from its start.
    const QFontMetricsF metrics(font);
    const qsizetype at = name.isEmpty() ? -1 : text.lastIndexOf(name);
    if (at >= 0) {
        const QString before = text.left(at);
        const QString after = text.mid(at + name.size());
        // A pixel to spare: the parts' widths need not add up to the whole line's.
        const double room = width - metrics.horizontalAdvance(before + after) - 1;
        const QString cut = room > 0 ? metrics.elidedText(name, Qt::ElideMiddle, room) : QString();
        if (cut.size() > 2)
            return {before + cut + after, font};
    }
    return {metrics.elidedText(text, Qt::ElideRight, width), font};
}

QString PillView::titleName(const Job& job)
{
    if (job.state() == Job::State::finished && job.outputs().size() == 1)
        return fileNameOf(job.outputs().first());
    return {};
}

QString PillView::detailName(const Job& job)
{
    switch (job.state()) {
    case Job::State::waiting:
    case Job::State::running:
        return job.fileCount() == 1 ? job.firstFileName() : QString();
    case Job::State::finished:
        if (!job.outputs().isEmpty())
            return QFileInfo(QFileInfo(job.outputs().first().path()).path()).fileName();
        return {};
    default: return {};
    }
}

QString PillView::shownTitle() const
{
    return fitted(m_face.title, titleFont(), lineWidth(m_face), m_face.titleName).text;
}

QString PillView::shownDetail() const
{
    return fitted(m_face.detail, detailFont(), lineWidth(m_face), m_face.detailName).text;
}

void PillView::paintControls(QPainter& p, const Face& face, double opacity, bool live) const
{
    if (opacity <= 0)
        return;
    p.save();
    p.setOpacity(opacity);
    const QColor primary = primaryTextColor(palette());
    for (const Placed& item : face.controls) {
        const bool hovered = live && m_hoveredControl == item.control.action;
        if (item.control.symbol.isEmpty()) {
            p.setFont(pixelFont(12, QFont::DemiBold));
            p.setPen(hovered ? primary : currentAccentColor());
            p.drawText(item.rect, Qt::AlignCenter, item.control.help);
            continue;
        }
        QColor fill = primary;
        fill.setAlphaF(hovered ? 0.14 : 0.07);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawEllipse(item.rect);
        paintSymbol(p, item.control.symbol, item.rect.adjusted(7.5, 7.5, -7.5, -7.5), primary);
    }
    if (!face.percent.isEmpty()) {
        p.setFont(percentFont());
        p.setPen(secondaryTextColor(palette()));
        p.drawText(face.percentRect, Qt::AlignRight | Qt::AlignVCenter, face.percent);
    }
    p.restore();
}

void PillView::paintTrack(QPainter& p, const Face& face, double opacity) const
{
    if (!face.track || opacity <= 0)
        return;
    p.save();
    p.setOpacity(opacity);
    const QRectF track = trackRect();
    QColor accent = currentAccentColor();
    p.setPen(Qt::NoPen);
    if (face.determinate) {
        p.setBrush(accent);
        p.drawRoundedRect(QRectF(track.left(), track.top(), face.barWidth, 3), 1.5, 1.5);
    } else {
        QPainterPath clip;
        clip.addRoundedRect(track, 1.5, 1.5);
        p.setClipPath(clip);
        accent.setAlphaF(0.85);
        p.setBrush(accent);
        p.drawRoundedRect(QRectF(track.left() + track.width() * m_phase, track.top(), track.width() * 0.35, 3),
                          1.5, 1.5);
    }
    p.restore();
}

void PillView::setHovering(bool hovering)
{
    if (hovering == m_hover.isHovering)
        return;
    m_hover.isHovering = hovering;
    if (m_hover.onChange)
        m_hover.onChange(hovering);
}

void PillView::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    setHovering(true);
}

void PillView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    m_hoveredControl.reset();
    update();
    setHovering(false);
}

void PillView::mouseMoveEvent(QMouseEvent* event)
{
    std::optional<Action> hovered;
    for (const Placed& item : placedControls()) {
        if (item.rect.contains(event->position()))
            hovered = item.control.action;
    }
    if (hovered != m_hoveredControl) {
        m_hoveredControl = hovered;
        update();
    }
}

bool PillView::opensDetailsOnClick() const
{
    return m_job && !m_job->isActive() && m_job->state() != Job::State::cancelled;
}

QString PillView::wholeText() const
{
    if (!m_job)
        return {};
    const QString detail = detailText(*m_job);
    QString text = titleText(*m_job);
    if (!detail.isEmpty())
        text += QLatin1Char('\n') + detail;
    if (opensDetailsOnClick())
        text += QStringLiteral("\n\nClick for the details, file by file");
    return text;
}

void PillView::mousePressEvent(QMouseEvent* event)
{
    m_pressedControl.reset();
    m_pressedText = false;
    for (const Placed& item : placedControls()) {
        if (item.rect.contains(event->position()))
            m_pressedControl = item.control.action;
    }
    m_pressedText = !m_pressedControl && event->button() == Qt::LeftButton;
}

void PillView::mouseReleaseEvent(QMouseEvent* event)
{
    const std::optional<Action> pressed = m_pressedControl;
    m_pressedControl.reset();
    // A click on the texts of an ended job opens what it did, whole.
    if (std::exchange(m_pressedText, false) && !pressed && rect().contains(event->position().toPoint())
        && opensDetailsOnClick()) {
        if (m_perform)
            m_perform(Action::details);
        return;
    }
    if (!pressed || !controlRect(*pressed).contains(event->position()))
        return;
    if (m_perform)
        m_perform(*pressed);
}

bool PillView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        for (const Placed& item : placedControls()) {
            if (item.rect.contains(help->pos())) {
                QToolTip::showText(help->globalPos(), item.control.help, this);
                return true;
            }
        }
        // Off the buttons: both lines whole, however much of them the pill had room for, as rich
        // text so that a long sentence wraps.
        QStringList paragraphs = wholeText().split(QStringLiteral("\n\n"));
        for (QString& paragraph : paragraphs)
            paragraph = QStringLiteral("<p>") + paragraph.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"))
                + QStringLiteral("</p>");
        QToolTip::showText(help->globalPos(), paragraphs.join(QString()), this);
        return true;
    }
    return QWidget::event(event);
}

} // namespace qv
