// The player: plays one movie or sound for a view of the application in a process of its own,
// so that a file that crashes or hangs the decoder costs that view and never the application.
#include "PlayerServer.h"

#include "platform/sandbox/PlayerProtocol.h"
#include "platform/sandbox/WorkerProtocol.h"
#include "platform/sandbox/WorkerSandbox.h"

#include <QDir>
#include <QGuiApplication>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The media framework's list of plugins, read from the user's cache (and rebuilt there where
// plugins changed) while the cache can still be written. Qt's own start of the framework later
// finds it done; Qt Multimedia would start its threads with it, and those must come after the walls.
void readMediaPlugins()
{
    void* library = ::dlopen("libgstreamer-1.0.so.0", RTLD_NOW | RTLD_GLOBAL | RTLD_NOLOAD);
    if (!library)
        library = ::dlopen("libgstreamer-1.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (!library)
        return; // another media framework, or none
    using InitCheck = int (*)(int*, char***, void**);
    if (const auto initCheck = reinterpret_cast<InitCheck>(::dlsym(library, "gst_init_check")))
        initCheck(nullptr, nullptr, nullptr);
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

int main(int argc, char** argv)
{
    // Replies go out on a descriptor of their own; whatever a library prints lands in the log.
    const int replies = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    // Its own namespaces (no network, no other process); the view of the files is made once
    // the file is known.
    qv::WorkerSandbox::detach();
    int framesFd = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--frames") == 0)
            framesFd = QByteArray(argv[i + 1]).toInt();
    }
    // Whatever the media framework starts (its plugin scanner) must not hold our pipes or pictures.
    if (framesFd >= 0)
        ::fcntl(framesFd, F_SETFD, FD_CLOEXEC);
    readMediaPlugins();

    // Landlock holds only for the thread that puts it up and the threads that thread starts
    // later: the walls go up while this is the only thread, before Qt and the media framework
    // start theirs (the sound server's clients, the decoders), so the file is known first.
    qv::WorkerProtocol::FrameReader commands;
    const std::optional<QJsonObject> first = qv::WorkerProtocol::readFrame(STDIN_FILENO, commands);
    if (!first)
        return commands.broken() ? 2 : 0; // the view is gone before it asked for anything
    const bool opens = qv::PlayerProtocol::type(*first) == QLatin1String("open");
    const qv::PlayerProtocol::OpenRequest request = opens ? qv::PlayerProtocol::openRequest(*first) : qv::PlayerProtocol::OpenRequest{};
    qv::WorkerSandbox::limitMemory(request.memoryLimitBytes);
    // It sees the system, this file and the sound server's socket, and nothing else of the
    // user's folders; it writes only in its own.
    qv::WorkerSandbox::wallPlayer(request.source.isLocalFile() ? request.source.toLocalFile() : QString());
    if (const int threads = threadCount(); threads != 1) {
        qv::WorkerProtocol::writeFrame(replies, {{QStringLiteral("type"), QStringLiteral("failed")},
                                                 {QStringLiteral("seen"), 1},
                                                 {QStringLiteral("details"),
                                                  QStringLiteral("%1 threads ran before the walls went up").arg(threads - 1)}});
        return 3;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qv::PlayerServer server(STDIN_FILENO, replies, framesFd, *first, std::move(commands));
    return app.exec();
}
