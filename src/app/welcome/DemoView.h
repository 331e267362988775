#pragma once

#include "app/welcome/DemoAnimation.h"

#include <QTimer>
#include <QWidget>

#include <optional>

namespace qv {

// The onboarding window's demonstration: the gradient background and the animation, clipped to
// a rounded rectangle, repainted about every 16 ms while visible and in step with the clock.
class DemoView : public QWidget {
    Q_OBJECT
public:
    explicit DemoView(QWidget* parent = nullptr);

    // Freezes the picture at a loop time (pictures of the window); nullopt follows the clock.
    void setFrozenTime(std::optional<double> t);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    double loopTime() const;
    void updateTicker();

    DemoAnimation m_animation;
    std::optional<double> m_frozenTime;
    QTimer m_ticker;
};

} // namespace qv
