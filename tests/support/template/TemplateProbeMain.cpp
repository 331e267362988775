// Starts the same program twice, through a process template and by an exec, and prints what
// each found of itself, a JSON line each, after a line of what this process found of itself:
//   quorvenda_test_template_probe [--kill-template] SECRET-WITH-ITS-FIRST-LETTER-FLIPPED
// The secret itself is in this process's environment, so the first line must find it; the
// programs must not.
#include "platform/processes/ChildProcess.h"
#include "platform/processes/HugePageMalloc.h"
#include "platform/processes/ProcessTemplate.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The secret as it was given: first letter flipped, so the copy we hold never matches.
bool memoryHolds(const QByteArray& flipped)
{
    if (flipped.isEmpty())
        return false;
    const char first = char(std::islower(flipped[0]) ? std::toupper(flipped[0]) : std::tolower(flipped[0]));
    const QByteArray rest = flipped.mid(1);
    QFile maps(QStringLiteral("/proc/self/maps"));
    QFile memory(QStringLiteral("/proc/self/mem"));
    if (!maps.open(QIODevice::ReadOnly) || !memory.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const QList<QByteArray> regions = maps.readAll().split('\n');
    for (const QByteArray& region : regions) {
        const QList<QByteArray> fields = region.simplified().split(' ');
        if (fields.size() < 2 || !fields[1].startsWith('r') || region.contains("[vvar]") || region.contains("[vsyscall]"))
            continue;
        const QList<QByteArray> range = fields[0].split('-');
        bool ok1 = false;
        bool ok2 = false;
        const quint64 begin = range.value(0).toULongLong(&ok1, 16);
        const quint64 end = range.value(1).toULongLong(&ok2, 16);
        // Only what may hold data: not the libraries' code.
        if (!ok1 || !ok2 || fields[1].contains('x') || end - begin > (quint64(256) << 20))
            continue;
        if (!memory.seek(qint64(begin)))
            continue;
        const QByteArray bytes = memory.read(qint64(end - begin));
        for (qsizetype at = bytes.indexOf(first); at >= 0; at = bytes.indexOf(first, at + 1)) {
            if (bytes.mid(at + 1, rest.size()) == rest)
                return true;
        }
    }
    return false;
}

QByteArray statusField(const QByteArray& status, const char* name)
{
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(QByteArray(name) + ':'))
            return line.mid(qsizetype(std::strlen(name)) + 1).trimmed();
    }
    return {};
}

// What a started program finds of itself.
int probe(int, char**)
{
    QFile statusFile(QStringLiteral("/proc/self/status"));
    statusFile.open(QIODevice::ReadOnly);
    const QByteArray status = statusFile.readAll();
    statusFile.close();
    QJsonObject report;
    for (const char* field : {"CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb", "NoNewPrivs", "Seccomp", "SigBlk", "SigIgn", "PPid",
                              "THP_enabled"})
        report.insert(QLatin1String(field), QString::fromLatin1(statusField(status, field)));
    QJsonArray fds;
    const QStringList entries = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        // The listing's own descriptor is gone by now.
        if (::fcntl(entry.toInt(), F_GETFD) >= 0)
            fds.append(entry.toInt());
    }
    report.insert(QStringLiteral("fds"), fds);
    QJsonArray environment;
    for (char** entry = environ; *entry; ++entry)
        environment.append(QString::fromUtf8(*entry));
    report.insert(QStringLiteral("environment"), environment);
    report.insert(QStringLiteral("ownGroup"), ::getpgrp() == ::getpid());
    QFile cmdline(QStringLiteral("/proc/self/cmdline"));
    cmdline.open(QIODevice::ReadOnly);
    const QByteArray arguments = cmdline.readAll();
    report.insert(QStringLiteral("commandLineWiped"), arguments.count('\0') == arguments.size());
    const QByteArray own = QFile::symLinkTarget(QStringLiteral("/proc/self/ns/user")).toUtf8();
    report.insert(QStringLiteral("ownUserNamespace"), own != qgetenv("PROBE_CALLER_NAMESPACE"));
    report.insert(QStringLiteral("callerSecretFound"), memoryHolds(qgetenv("PROBE_SECRET")));
    const int inherited = qEnvironmentVariableIntValue("PROBE_FD");
    char byte = 0;
    report.insert(QStringLiteral("inheritedReads"), ::read(inherited, &byte, 1) == 1 && byte == 'x');
    std::fputs(QJsonDocument(report).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    std::fflush(stdout);
    std::_Exit(0);
}

QByteArray readAll(int fd)
{
    QByteArray out;
    char chunk[4096];
    for (;;) {
        pollfd one{fd, POLLIN, 0};
        ::poll(&one, 1, -1);
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0)
            out.append(chunk, got);
        else if (got == 0 || errno != EAGAIN)
            return out;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--probe") == 0)
        probe(argc, argv);
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const bool forked = qv::ProcessTemplate::fork(self, &probe, argc, argv);
    const bool killTemplate = argc > 2 && std::strcmp(argv[1], "--kill-template") == 0;
    const QByteArray secret = argv[argc - 1];
    // As the application does once its template is forked.
    const bool hugePagesKept = qv::HugePageMalloc::keepForWorkers();
    QJsonObject host;
    host.insert(QStringLiteral("templateForked"), forked);
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    host.insert(QStringLiteral("hugePagesKept"), hugePagesKept);
    host.insert(QStringLiteral("THP_enabled"), QString::fromLatin1(statusField(status.readAll(), "THP_enabled")));
    host.insert(QStringLiteral("callerSecretFound"), memoryHolds(secret));
    std::fputs(QJsonDocument(host).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    if (killTemplate) {
        QFile children(QStringLiteral("/proc/self/task/%1/children").arg(::getpid()));
        children.open(QIODevice::ReadOnly);
        for (const QByteArray& pid : children.readAll().split(' ')) {
            if (pid.toInt() > 0) {
                ::kill(pid.toInt(), SIGKILL);
                ::waitpid(pid.toInt(), nullptr, 0);
            }
        }
    }
    // The same file, named so that the template does not serve it: executed.
    const QString executed = QFileInfo(self).absolutePath() + QStringLiteral("/./") + QFileInfo(self).fileName();
    for (const QString& program : {self, executed}) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0 || ::write(ends[1], "x", 1) != 1)
            return 1;
        ::close(ends[1]);
        // The same number for both starts.
        ::dup3(ends[0], 20, O_CLOEXEC);
        ::close(ends[0]);
        ends[0] = 20;
        QHash<QString, QString> environment{
            {QStringLiteral("PROBE_SECRET"), QString::fromUtf8(secret)},
            {QStringLiteral("PROBE_FD"), QString::number(ends[0])},
            {QStringLiteral("PROBE_CALLER_NAMESPACE"), QFile::symLinkTarget(QStringLiteral("/proc/self/ns/user"))},
        };
        qv::ChildProcess child(program, {QStringLiteral("--probe")}, environment, std::nullopt, false,
                               qv::ChildProcess::Role::sandbox, ends[0]);
        ::close(ends[0]);
        const QByteArray line = readAll(child.stdoutFd());
        const int status = child.wait();
        std::fputs(line.isEmpty() ? "{}\n" : line.constData(), stdout);
        std::fflush(stdout);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 2;
    }
    return 0;
}
