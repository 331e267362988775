#pragma once

#include "platform/desktop/HotkeyGrabber.h"

#include <QList>

#include <memory>

namespace qv {

// The X11 modifier mask of stored modifier bits: Shift, Control, Alt (Mod1), Super (Mod4).
quint32 x11ModifierMask(quint32 modifierMask);

// Grabs the key on the root window through a connection of its own, so Qt's connection never
// sees the press. The grab is made for every combination of Caps Lock and Num Lock, which X
// treats as modifiers too.
class X11HotkeyGrabber : public HotkeyGrabber {
    Q_OBJECT

public:
    // No display name: $DISPLAY.
    explicit X11HotkeyGrabber(const QByteArray& displayName = {}, QObject* parent = nullptr);
    ~X11HotkeyGrabber() override;

    int install() override;
    int grab(const Shortcut& shortcut) override;
    void ungrab() override;
    QString grabName() const override { return QStringLiteral("XGrabKey"); }
    QString installName() const override { return QStringLiteral("XOpenDisplay"); }
    QString explain(int status) const override;

    static constexpr int noDisplay = -1;  // no X server to talk to
    static constexpr int unknownKey = -2; // the code has no keysym, or no key types it

private:
    void readEvents();
    QList<quint32> lockCombinations() const;

    struct State;
    std::unique_ptr<State> d;
};

} // namespace qv
