#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>

#include <optional>

namespace qv {

// The tray icon's fraction: none without active jobs, -1 while no job reports progress yet,
// otherwise the mean of the jobs that do (jobs still at 0 do not pull it down).
std::optional<double> statusFraction(const QList<double>& activeFractions);

// The progress arc in the icon's 18-point box: degrees counter-clockwise from 3 o'clock
// (90 is the top); a negative span runs clockwise.
struct RingArc {
    double startDegrees = 90;
    double spanDegrees = 0;
};

// At least 4 % of the ring shows, so a job that has just started is visibly running.
inline constexpr double minimumRingFraction = 0.04;
inline constexpr double spinnerArcDegrees = 100;

RingArc progressArc(double fraction, double spinnerPhase);

// Whole percent, truncated; a hair of tolerance so 0.29 reads 29, not 28.
int wholePercent(double fraction);

// "Working" while no job reports progress, else "<n> percent".
QString progressAccessibilityValue(double fraction);
// The value above with active jobs; "Paused" or "Idle" without.
QString statusAccessibilityValue(std::optional<double> fraction, bool paused);
// The tray has no accessibility value of its own: its tooltip carries it.
QString statusToolTip(const QString& accessibilityValue);

// The edge drawn around each of the icon's shapes: the foreground's opposite, so that the icon
// reads on a panel lighter or darker than guessed.
QColor haloColor(const QColor& foreground);

// The icon drawn at pixelSize x pixelSize in the foreground colour, edged in haloColor. The 18-point design is
// scaled to the size asked for.
QImage statusIconImage(std::optional<double> fraction, bool paused, double spinnerPhase,
                       int pixelSize, const QColor& foreground);
// The same at the sizes panels ask for.
QIcon statusIcon(std::optional<double> fraction, bool paused, double spinnerPhase,
                 const QColor& foreground);

// The colour the panel shows its own symbols in, as far as we can tell: light on panels that
// are dark by design or under a dark palette, else the palette's text colour.
QColor trayForegroundColor();

} // namespace qv
