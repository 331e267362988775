#include "model/LaunchArguments.h"

#include "model/NativeFileName.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <cstdlib>
#include <unistd.h>

namespace qv {

LaunchArguments LaunchArguments::fromCommandLine(int argc, char** argv)
{
    LaunchArguments launch;
    char* here = ::getcwd(nullptr, 0);
    const QByteArray workingFolder = here ? QByteArray(here) : QFile::encodeName(QDir::currentPath());
    std::free(here);
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--convert-copied") {
            launch.convertCopied = true;
            continue;
        }
        const QUrl url = fileUrlForArgument(argument, workingFolder, QSysInfo::machineHostName());
        if (url.isValid())
            launch.files.append(url);
    }
    return launch;
}

} // namespace qv
