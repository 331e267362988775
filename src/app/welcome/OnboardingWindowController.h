#pragma once

#include "app/welcome/OnboardingView.h"

#include <QObject>

#include <functional>
#include <memory>

namespace qv {

class MenuActions;

// The welcome window, made once per process and kept when closed. Every close, by "Done",
// Return or the title bar, records that the user has seen it, so that later starts stay
// silent.
class OnboardingWindowController : public QObject {
    Q_OBJECT
public:
    explicit OnboardingWindowController(OnboardingView::Services services, QObject* parent = nullptr);
    ~OnboardingWindowController() override;

    // Made on first use over the process-wide services.
    static OnboardingWindowController& shared();

    // The tray's "Getting Started…" shows the window; the controller is made on first use.
    static void installMenuHook(MenuActions& actions,
                                std::function<OnboardingWindowController&()> controller = &shared);

    // Shows the window: sized to its content and centred when it was hidden, only raised and
    // activated when it is already up.
    void show();

    OnboardingView* window() const { return m_view.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<OnboardingView> m_view;
    SettingsStore* m_store = nullptr;
};

} // namespace qv
