#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace qv {

// What the tray icon shows: decides when it must be drawn again and turns the spinner.
class StatusIconModel {
public:
    // What the icon last showed.
    struct State {
        std::optional<double> fraction;
        bool paused = false;
        bool operator==(const State&) const = default;
    };

    // One drawing of the icon.
    struct Frame {
        std::optional<double> fraction;
        bool paused = false;
        double spinnerPhase = 0;
        QString accessibilityValue;
    };

    static constexpr double spinnerStep = 0.08;

    // The fractions of the active jobs and the pause setting; nothing when the icon would look
    // as it does. The indeterminate ring is always drawn again, so that it turns.
    std::optional<Frame> update(const QList<double>& activeFractions, bool paused);

    // The next update draws the icon whatever it shows: a new tray shows none yet.
    void forget() { m_drawn.reset(); }

    const std::optional<State>& drawnState() const { return m_drawn; }
    double spinnerPhase() const { return m_spinnerPhase; }

private:
    std::optional<State> m_drawn;
    double m_spinnerPhase = 0;
};

} // namespace qv
