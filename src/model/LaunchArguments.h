#pragma once

#include <QList>
#include <QUrl>

namespace qv {

// What Quorvenda was started with: the files named on its command line, read from the
// arguments' own bytes (Qt's text of a name that is not UTF-8 names another file), and whether
// it was asked to convert the copied files (the command users bind to a key where the desktop
// lends no global shortcut).
struct LaunchArguments {
    QList<QUrl> files;
    bool convertCopied = false;

    static LaunchArguments fromCommandLine(int argc, char** argv);
};

} // namespace qv
