// The player: plays one movie or sound for a view of the application in a process of its own,
// so that a file that crashes or hangs the decoder costs that view and never the application.
#include "PlayerServer.h"

#include "platform/sandbox/WorkerSandbox.h"

#include <QGuiApplication>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Replies go out on a descriptor of their own; whatever a library prints lands in the log.
    const int replies = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    // Its own namespaces (no network, no other process); the view of the files is made when
    // the file comes.
    qv::WorkerSandbox::detach();
    int framesFd = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--frames") == 0)
            framesFd = QByteArray(argv[i + 1]).toInt();
    }
    // Whatever the media framework starts (its plugin scanner) must not hold our pipes or pictures.
    if (framesFd >= 0)
        ::fcntl(framesFd, F_SETFD, FD_CLOEXEC);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qv::PlayerServer server(STDIN_FILENO, replies, framesFd);
    return app.exec();
}
