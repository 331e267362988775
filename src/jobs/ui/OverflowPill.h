#pragma once

#include <QPointer>
#include <QRect>

namespace qv {

class HUDPanel;

// The narrow pill counting the pills beyond the fourth; its panel is made once and kept.
class OverflowPill {
public:
    OverflowPill() = default;
    ~OverflowPill();
    OverflowPill(const OverflowPill&) = delete;
    OverflowPill& operator=(const OverflowPill&) = delete;

    // Shows the count in a panel at this frame (Qt coordinates).
    void update(int count, const QRect& frame);
    void orderOut();

    HUDPanel* panel() const { return m_panel; }
    bool isVisible() const;
    int count() const;

private:
    QPointer<HUDPanel> m_panel;
};

} // namespace qv
