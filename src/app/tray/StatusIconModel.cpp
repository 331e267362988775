#include "app/tray/StatusIconModel.h"

#include "app/tray/StatusIcon.h"

namespace qv {

std::optional<StatusIconModel::Frame> StatusIconModel::update(const QList<double>& activeFractions,
                                                              bool paused)
{
    const std::optional<double> fraction = statusFraction(activeFractions);
    if (fraction && *fraction < 0)
        m_spinnerPhase += spinnerStep;

    if (m_drawn && m_drawn->paused == paused) {
        const bool bothIdle = !m_drawn->fraction && !fraction;
        const bool sameProgress = m_drawn->fraction && fraction && *m_drawn->fraction == *fraction
                                  && *fraction >= 0;
        if (bothIdle || sameProgress)
            return std::nullopt;
    }

    m_drawn = State{fraction, paused};
    return Frame{fraction, paused, m_spinnerPhase, statusAccessibilityValue(fraction, paused)};
}

} // namespace qv
