#pragma once

#include "model/settings/Shortcut.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QToolButton;

namespace qv {

class HotkeyCenter;
class SettingsStore;

// Shows and records the global shortcut that converts the copied files. While it records, the
// hot key is given back so its own presses reach the recorder, and every key goes to it and to
// nothing else. When the stored shortcut could not be taken (another program holds it), it
// says so under the row.
class ShortcutRecorderView : public QWidget {
    Q_OBJECT
public:
    ShortcutRecorderView(HotkeyCenter& hotkeys, SettingsStore& store, QWidget* parent = nullptr);
    ~ShortcutRecorderView() override;

    void toggleRecording();
    void startRecording();
    void stopRecording();
    void clearShortcut();
    // What a key pressed while recording does.
    void handleRecordedKey(const QKeyEvent& event);

    bool isRecording() const { return m_recording; }
    std::optional<Shortcut> shortcut() const { return m_shortcut; }
    QPushButton* recordButton() const { return m_button; }
    QToolButton* clearButton() const { return m_clear; }
    QLabel* conflictLabel() const { return m_conflict; }

    // The system beep by default; tests count.
    std::function<void()> beep;

    static QString conflictText();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void updateLabel();
    void updateConflict();

    HotkeyCenter& m_hotkeys;
    SettingsStore& m_store;
    std::optional<Shortcut> m_shortcut;
    bool m_recording = false;
    bool m_monitoring = false;
    QPushButton* m_button;
    QToolButton* m_clear;
    QLabel* m_conflict;
};

} // namespace qv
