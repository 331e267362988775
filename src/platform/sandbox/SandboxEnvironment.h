#pragma once

#include <QHash>
#include <QString>

namespace qv {

// The environment of a worker or player: what programs and libraries need to run (the search
// path, the language, Qt's and the tests' own settings), and nothing that leads to the user's
// session: no X or Wayland display, no session bus, no agents. Home, temporary and runtime
// folders are the process's own folder.
class SandboxEnvironment {
public:
    SandboxEnvironment() = delete;

    static QHash<QString, QString> forWorker(const QString& ownFolder);
    // The sound server's socket is reached through the user's runtime folder, which the player
    // keeps; PulseAudio's is named outright where it is there.
    static QHash<QString, QString> forPlayer(const QString& ownFolder);

    // True for a variable that passes the wall.
    static bool passes(const QString& name);
};

} // namespace qv
