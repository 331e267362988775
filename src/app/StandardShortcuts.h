#pragma once

#include "model/EnumText.h"

#include <QObject>

class QKeyEvent;

namespace qv {

class MenuActions;

// The application-wide keys of our own windows: close the window, open the settings, quit.
// Editing keys (undo, cut, copy, paste, select all) the text widgets handle themselves.
enum class StandardCommand { none, closeWindow, openSettings, quit };

template <>
struct EnumText<StandardCommand> {
    static constexpr std::array names{"none", "closeWindow", "openSettings", "quit"};
};

// Watches key presses that no widget took: a key reaches its window only when the widgets
// inside ignored it, so a shortcut recorder or a text field keeps the keys it uses.
class StandardShortcuts : public QObject {
    Q_OBJECT
public:
    explicit StandardShortcuts(MenuActions& actions, QObject* parent = nullptr);

    // Installs one on the application, once.
    static void install(MenuActions& actions);

    static StandardCommand commandFor(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MenuActions& m_actions;
};

} // namespace qv
