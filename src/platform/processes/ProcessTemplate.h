#pragma once
#include "platform/processes/ChildLaunch.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace qv {

// A copy of this process made at its start, before any thread or any user's file, that starts
// one program for us by forking itself and running the program's entry: no exec, so none of
// the program's libraries is mapped and linked again for each start. What it starts is our
// child, as an executed one is, with the same walls; its memory is the template's, which holds
// no user's file, and the template's copy of our arguments and environment is wiped first.
class ProcessTemplate {
public:
    // Forks the template for the program at that path, whose entry is main. False where this
    // process already runs threads, or under the address or thread sanitizer (then the
    // program is executed as before). The template holds the descriptors kept open until it
    // ends, after us: their last close is then its to wait for, not ours (none reaches what it
    // starts).
    static bool fork(const QString& program, ChildLaunch::Main main, int argc, char** argv,
                     const QList<int>& keptOpen = {});
    // Started by the template, where one serves launch.path; nullopt where none does or it
    // is gone, and the caller starts the program itself. A pid of -1 with errno: the template
    // could make no process.
    static std::optional<ChildLaunch::Started> start(const ChildLaunch& launch);
    // The program the template serves; empty without one.
    static QByteArray program();
};

} // namespace qv
