#pragma once

#include "platform/desktop/HotkeyGrabber.h"

#include <QList>

#include <optional>

namespace qv::test {

// Records grabs instead of taking keys; press() plays a press of the held key.
class FakeHotkeyGrabber : public HotkeyGrabber {
public:
    int installStatus = 0;
    int grabStatus = 0; // what the next grabs answer
    int installs = 0;
    QList<Shortcut> grabs;        // every successful grab, in order
    std::optional<Shortcut> held; // the key held now

    int install() override
    {
        ++installs;
        return installStatus;
    }
    int grab(const Shortcut& shortcut) override
    {
        held.reset();
        if (grabStatus != 0)
            return grabStatus;
        grabs.append(shortcut);
        held = shortcut;
        return 0;
    }
    void ungrab() override { held.reset(); }
    QString grabName() const override { return QStringLiteral("FakeGrab"); }
    QString installName() const override { return QStringLiteral("FakeInstall"); }
    QString explain(int status) const override { return QStringLiteral("status %1").arg(status); }

    void press()
    {
        if (held)
            Q_EMIT pressed();
    }
};

} // namespace qv::test
