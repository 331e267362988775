#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qv {

class ColorWell;
class HotkeyCenter;
class SegmentedPicker;
class SettingsBinder;
class SettingsStore;
class ShortcutRecorderView;

// Trigger keys, keyboard control, launch at login, the hot key and the look of the wheel.
class GeneralSettingsTab : public QWidget {
    Q_OBJECT
public:
    struct Services {
        // May throw; the switch then shows what launchAtLoginEnabled says.
        std::function<void(bool)> setLaunchAtLogin;
        std::function<bool()> launchAtLoginEnabled;
        // Whether the wheel can be steered by keys on this session (X11).
        std::function<bool()> keyboardControlAvailable;
        // Where no program can take a global key (GNOME and sway on Wayland): what to do
        // instead and the line to copy; empty where the hot key row records one.
        struct KeyElsewhere {
            QString how;
            QString command;
        };
        std::function<KeyElsewhere()> hotkeyElsewhere;
        static Services system();
    };

    GeneralSettingsTab(SettingsStore& store, HotkeyCenter& hotkeys, Services services,
                       QWidget* parent = nullptr);

    // Reads the login state again, as on each activation of the application.
    void refreshPermissions();

    QComboBox* triggerPicker(int wheel) const { return m_triggers[wheel]; }
    QCheckBox* launchAtLoginSwitch() const { return m_launchAtLogin; }
    QLabel* loginErrorLabel() const { return m_loginError; }
    QPushButton* accentResetButton() const { return m_accentReset; }
    ColorWell* accentWell() const { return m_accent; }
    // Null where the desktop's own shortcut stands in for it.
    ShortcutRecorderView* recorder() const { return m_recorder; }
    // The command to copy where the recorder is not shown, else null.
    QLineEdit* hotkeyCommandField() const { return m_hotkeyCommand; }
    QLabel* keyboardCaption() const { return m_keyboardCaption; }
    QComboBox* stripEdgePicker() const { return m_stripEdge; }
    QDoubleSpinBox* dwellField() const { return m_dwell; }

private:
    void applyLaunchAtLogin(bool enabled);

    SettingsStore& m_store;
    Services m_services;
    SettingsBinder* m_binder;
    QComboBox* m_triggers[3] = {};
    QComboBox* m_stripEdge = nullptr;
    QDoubleSpinBox* m_dwell = nullptr;
    QCheckBox* m_launchAtLogin = nullptr;
    QLabel* m_loginError = nullptr;
    QLabel* m_keyboardCaption = nullptr;
    ColorWell* m_accent = nullptr;
    QPushButton* m_accentReset = nullptr;
    ShortcutRecorderView* m_recorder = nullptr;
    QLineEdit* m_hotkeyCommand = nullptr;
};

} // namespace qv
