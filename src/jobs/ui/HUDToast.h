#pragma once

#include "jobs/Toasts.h"
#include "jobs/ui/HUDPanel.h"
#include "platform/desktop/ScreenProvider.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

namespace qv {

class HUDPanel;
class ToastView;

// One toast on screen: near the bottom centre of the screen under the pointer, fading in,
// gone after its time, at once when a newer toast comes, or when clicked.
class HUDToast : public QObject {
    Q_OBJECT
public:
    HUDToast(const QString& text, const QString& symbol, const ScreenInfo& screen, double primaryHeight,
             std::function<void()> action = {});
    ~HUDToast() override;

    HUDPanel* panel() const { return m_panel; }
    ToastView* view() const { return m_view; }

    void present(double seconds);
    void dismiss(bool animated);
    // Runs the click action once, then takes the toast away.
    void click();
    bool dismissPending() const { return m_dismissWork.isActive(); }

    // Replaces any toast with this one; under the test harness nothing is shown.
    static void showToast(const Toast& toast, const ScreenProvider& screens = ScreenProvider::system());
    static HUDToast* current();
    static std::optional<QString> pendingAnnouncement();

private:
    QPointer<HUDPanel> m_panel;
    ToastView* m_view = nullptr;
    QTimer m_dismissWork;
    std::function<void()> m_action;
};

// The toast presenter the user interface installs.
class HUDToastPresenter : public ToastPresenter {
public:
    void show(const Toast& toast) override { HUDToast::showToast(toast); }
};

} // namespace qv
