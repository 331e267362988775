#pragma once

#include "app/welcome/PracticeArea.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QPushButton;

namespace qv {

class DemoView;
class SettingsStore;
class TriggerCard;

// The welcome window's content: what the three wheels do and the keys that open them, the
// looping demonstration, the practice area, and the launch-at-login switch, "Settings…" and
// "Done".
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    struct Services {
        SettingsStore* store = nullptr;
        // May throw; the switch then shows what launchAtLoginEnabled says.
        std::function<void(bool)> setLaunchAtLogin;
        std::function<bool()> launchAtLoginEnabled;
        std::function<void()> openSettings;
        PracticeArea::Services practice;
    };
    // The process-wide store and platform, and MenuActions for the settings window.
    static Services defaultServices();

    explicit OnboardingView(Services services, QWidget* parent = nullptr);

    static constexpr int contentWidth = 660;

    DemoView* demo() const { return m_demo; }
    PracticeArea* practiceArea() const { return m_practice; }
    QCheckBox* launchAtLoginSwitch() const { return m_launchAtLogin; }
    QPushButton* settingsButton() const { return m_settings; }
    QPushButton* doneButton() const { return m_done; }
    // The key caps of the cards, in the order convert, tools, actions.
    QStringList cardKeys() const;

Q_SIGNALS:
    // "Done" or Return.
    void doneRequested();

private:
    void updateCards();
    void applyLaunchAtLogin(bool enabled);

    Services m_services;
    DemoView* m_demo = nullptr;
    QList<TriggerCard*> m_cards;
    PracticeArea* m_practice = nullptr;
    QCheckBox* m_launchAtLogin = nullptr;
    QPushButton* m_settings = nullptr;
    QPushButton* m_done = nullptr;
};

} // namespace qv
