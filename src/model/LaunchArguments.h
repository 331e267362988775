#pragma once

#include <QList>
#include <QUrl>

#include <optional>

namespace qv {

// What Quorvenda was started with: the files named on its command line, read from the
// arguments' own bytes (Qt's text of a name that is not UTF-8 names another file), and whether
// it was asked to convert the copied files (the command users bind to a key where the desktop
// lends no global shortcut), or only for its help or version. After "--" every argument is a
// file, so a file named "--help" is still reached.
struct LaunchArguments {
    QList<QUrl> files;
    bool convertCopied = false;
    bool help = false;
    bool version = false;

    static LaunchArguments fromCommandLine(int argc, char** argv);
    // What --help and --version print.
    static QByteArray helpText();
    static QByteArray versionText();
    // Prints the help or the version when asked for them and gives the exit status; nothing
    // otherwise. Before anything else starts: it needs no display and no session bus.
    static std::optional<int> answerAlone(int argc, char** argv);
};

} // namespace qv
