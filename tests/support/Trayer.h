#pragma once

#include <QProcess>
#include <QString>

namespace qv::test {

// trayer, an XEmbed system tray, in a 120 x 32 panel at the top right of the tests' X server for
// the life of the object.
class Trayer {
public:
    Trayer();
    // Stops it: later tests see a server without a tray.
    ~Trayer();

    // Why there is none (trayer missing, or it took no tray); empty when it runs.
    QString whyNot() const { return m_whyNot; }

    // A tray holds the screen's tray selection, asked on a connection of the test's own: Qt's
    // tray tracker, once made, takes the tray's announcement for a new tray and docks the icon
    // again, so it is first asked after the tray has announced itself.
    static bool runs();

private:
    QProcess m_process;
    QString m_whyNot;
};

} // namespace qv::test
