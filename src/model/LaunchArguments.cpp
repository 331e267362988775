#include "model/LaunchArguments.h"

#include "model/files/NativeFileName.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace qv {

LaunchArguments LaunchArguments::fromCommandLine(int argc, char** argv)
{
    LaunchArguments launch;
    char* here = ::getcwd(nullptr, 0);
    const QByteArray workingFolder = here ? QByteArray(here) : QFile::encodeName(QDir::currentPath());
    std::free(here);
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (options) {
            if (argument == "--") {
                options = false;
                continue;
            }
            if (argument == "--convert-copied") {
                launch.convertCopied = true;
                continue;
            }
            if (argument == "--help" || argument == "-h") {
                launch.help = true;
                continue;
            }
            if (argument == "--version") {
                launch.version = true;
                continue;
            }
        }
        const QUrl url = fileUrlForArgument(argument, workingFolder, QSysInfo::machineHostName());
        if (url.isValid())
            launch.files.append(url);
    }
    return launch;
}

QByteArray LaunchArguments::helpText()
{
    return "Usage: quorvenda [--convert-copied] [--] [FILE...]\n"
           "\n"
           "Quorvenda lives in the tray and turns dragging files into choosing what to do with them.\n"
           "Started with files, it opens its wheel for them (in the Quorvenda already running, if any).\n"
           "\n"
           "  --convert-copied  convert the files copied to the clipboard (bind it to a key where\n"
           "                    the desktop lends no global shortcut)\n"
           "  -h, --help        print this help and exit\n"
           "  --version         print the version and exit\n"
           "  --                every argument after it is a file, even one that starts with \"-\"\n";
}

QByteArray LaunchArguments::versionText()
{
    return "Quorvenda " QV_VERSION "\n";
}

std::optional<int> LaunchArguments::answerAlone(int argc, char** argv)
{
    const LaunchArguments launch = fromCommandLine(argc, argv);
    if (!launch.help && !launch.version)
        return std::nullopt;
    const QByteArray text = launch.help ? helpText() : versionText();
    const bool written = std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size())
        && std::fflush(stdout) == 0;
    return written ? 0 : 1;
}

} // namespace qv
