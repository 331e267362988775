#pragma once

#include "model/settings/Shortcut.h"

#include <QObject>
#include <QString>

namespace qv {

// Takes one key combination for the whole desktop, whichever window has the focus.
class HotkeyGrabber : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens what presses arrive through; 0 on success, else an error status.
    virtual int install() = 0;
    // Takes the key; 0 on success, else an error status (BadAccess, 10, when another program
    // holds it). Nothing stays taken after a failure.
    virtual int grab(const Shortcut& shortcut) = 0;
    // Gives the key back; harmless when none is held.
    virtual void ungrab() = 0;

    // For the log, in the desktop's words: what takes the key ("XGrabKey"), what install()
    // opens, and what a status of theirs means.
    virtual QString grabName() const { return QStringLiteral("Key grab"); }
    virtual QString installName() const { return QStringLiteral("Key grab set-up"); }
    virtual QString explain(int status) const { return QStringLiteral("status %1").arg(status); }

Q_SIGNALS:
    // Once per press of the key; a held key repeating does not count again.
    void pressed();
};

} // namespace qv
