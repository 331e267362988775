#include "jobs/ui/PillView.h"

#include "jobs/ui/HoverState.h"
#include "jobs/ui/PillBackground.h"
#include "model/PlatformWording.h"
#include "model/SettingsReaders.h"
#include "platform/SymbolTable.h"

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
#include <QVariantAnimation>

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

QString lowerFirst(const QString& text)
{
    return text.isEmpty() ? text : text.left(1).toLower() + text.mid(1);
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
    case Job::State::receiving: return QStringLiteral("Receiving…");
    case Job::State::waiting:
    case Job::State::running: return job.title() + QStringLiteral("…");
    case Job::State::finished:
        if (job.outputs().size() == 1)
            return QStringLiteral("Saved · ") + fileNameOf(job.outputs().first());
        if (job.outputs().size() > 1)
            return QStringLiteral("Saved %1 files").arg(job.outputs().size());
        if (!job.messages().isEmpty())
            return job.messages().first();
        return QStringLiteral("Done");
    case Job::State::failed: return QStringLiteral("Couldn't ") + lowerFirst(job.title());
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
    case Job::State::running:
        if (job.fileCount() == 1)
            return job.firstFileName();
        return QStringLiteral("%1 files").arg(job.fileCount());
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

QString PillView::percentText(double fraction)
{
    return QString::number(static_cast<long long>(std::round(fraction * 100))) + QStringLiteral(" %");
}

QList<PillView::Control> PillView::controls(const Job& job)
{
    const Control close{Action::close, QStringLiteral("xmark"), QStringLiteral("Close")};
    if (job.isActive())
        return {{Action::cancel, QStringLiteral("xmark"), QStringLiteral("Cancel")}};
    if (job.state() == Job::State::finished && !job.outputs().isEmpty())
        return {{Action::reveal, QStringLiteral("magnifyingglass"), platformWording(QStringLiteral("Reveal in Finder"))},
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
    return m_job->state() == Job::State::running && m_job->fraction() > 0;
}

bool PillView::isIndeterminate() const
{
    return showsProgressTrack() && !showsPercent();
}

QList<PillView::Placed> PillView::placedControls() const
{
    const QList<Control> list = controls(*m_job);
    const double spacing = m_job->isActive() ? 6 : 4;
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
    if (!showsPercent())
        return {};
    const QList<Placed> placed = placedControls();
    const double right = placed.isEmpty() ? width() - trailingPadding : placed.first().rect.left() - 6;
    const double w = QFontMetricsF(percentFont()).horizontalAdvance(QStringLiteral("100 %"));
    return {right - w, 0, w, double(height())};
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
    updateIndeterminate();
    update();
}

void PillView::updateIndeterminate()
{
    if (isIndeterminate() && !m_sweep) {
        auto* sweep = new QVariantAnimation(this);
        sweep->setStartValue(-0.35);
        sweep->setEndValue(1.0);
        sweep->setDuration(1100);
        sweep->setEasingCurve(QEasingCurve::InOutQuad);
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
    const QRectF bounds = rect();
    const Job& job = *m_job;
    const bool failed = job.state() == Job::State::failed;
    paintPillBackground(p, bounds, palette(), failed ? std::optional<QColor>(red) : std::nullopt);

    const QColor primary = primaryTextColor(palette());
    const QColor secondary = secondaryTextColor(palette());

    // Status badge.
    const Look look = statusIcon(job);
    const QRectF badge(leadingPadding, (height() - badgeSize) / 2, badgeSize, badgeSize);
    QColor wash = look.color;
    wash.setAlphaF(0.14);
    p.setPen(Qt::NoPen);
    p.setBrush(wash);
    p.drawEllipse(badge);
    paintSymbol(p, look.symbol, badge.adjusted(6.5, 6.5, -6.5, -6.5), look.color);

    // Trailing controls.
    const QList<Placed> placed = placedControls();
    for (const Placed& item : placed) {
        const bool hovered = m_hoveredControl == item.control.action;
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
    double textRight = placed.isEmpty() ? width() - trailingPadding : placed.first().rect.left();
    if (showsPercent()) {
        const QRectF percent = percentRect();
        p.setFont(percentFont());
        p.setPen(secondary);
        p.drawText(percent, Qt::AlignRight | Qt::AlignVCenter, percentText(job.fraction()));
        textRight = percent.left();
    }

    // Text column, both lines cut in the middle.
    const double textLeft = badge.right() + 10;
    const double textWidth = std::max(textRight - 4 - 10 - textLeft, 10.0);
    const QFont titleFont = pixelFont(13, QFont::DemiBold);
    const QFont detailFont = pixelFont(11, QFont::Normal);
    const QFontMetricsF titleMetrics(titleFont);
    const QFontMetricsF detailMetrics(detailFont);
    const QString detail = detailText(job);
    const double titleHeight = titleMetrics.height();
    const double detailHeight = detail.isEmpty() ? 0 : detailMetrics.height() + 1;
    double y = (height() - titleHeight - detailHeight) / 2;
    p.setFont(titleFont);
    p.setPen(primary);
    p.drawText(QRectF(textLeft, y, textWidth, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
               titleMetrics.elidedText(titleText(job), Qt::ElideMiddle, textWidth));
    if (!detail.isEmpty()) {
        p.setFont(detailFont);
        p.setPen(secondary);
        p.drawText(QRectF(textLeft, y + titleHeight + 1, textWidth, detailMetrics.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, detailMetrics.elidedText(detail, Qt::ElideMiddle, textWidth));
    }

    // Progress over the bottom edge.
    if (showsProgressTrack()) {
        const QRectF track(22, height() - 5 - 3, width() - 44, 3);
        QColor accent = currentAccentColor();
        p.setPen(Qt::NoPen);
        if (showsPercent()) {
            p.setBrush(accent);
            p.drawRoundedRect(QRectF(track.left(), track.top(), barWidth(track.width(), job.fraction()), 3), 1.5, 1.5);
        } else {
            p.save();
            QPainterPath clip;
            clip.addRoundedRect(track, 1.5, 1.5);
            p.setClipPath(clip);
            accent.setAlphaF(0.85);
            p.setBrush(accent);
            p.drawRoundedRect(QRectF(track.left() + track.width() * m_phase, track.top(), track.width() * 0.35, 3),
                              1.5, 1.5);
            p.restore();
        }
    }
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

void PillView::mousePressEvent(QMouseEvent* event)
{
    m_pressedControl.reset();
    for (const Placed& item : placedControls()) {
        if (item.rect.contains(event->position()))
            m_pressedControl = item.control.action;
    }
}

void PillView::mouseReleaseEvent(QMouseEvent* event)
{
    const std::optional<Action> pressed = m_pressedControl;
    m_pressedControl.reset();
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
        QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

} // namespace qv
