// The development driver: every capability of Quorvenda, reachable from a shell.
#include "Commands.h"

#include "catalogue/isolated/IsolatedReading.h"
#include "catalogue/isolated/WorkerTemplate.h"
#include "catalogue/SystemServices.h"

#include "model/files/NativeFileName.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

#include <functional>
#include <map>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

struct Command {
    std::function<int(const QStringList&)> run;
    const char* help;
};

const std::map<QString, Command>& commands()
{
    static const std::map<QString, Command> table{
        {QStringLiteral("action"),
         {qv::dev::action, "action ACTION-ID [--alt] [--at X,Y] [--folder DIR] [--pick TITLE] [--stay SECONDS] FILE...  run a quick action, print what it showed"}},
        {QStringLiteral("capabilities"),
         {qv::dev::capabilities, "capabilities         what this machine offers the engines, as JSON"}},
        {QStringLiteral("document"),
         {qv::dev::document, "document FILE [--to md|html|txt|docx OUT|epub OUT] [--letter] [--roundtrip] [--stats]  a document (or an EPUB) read into the model, as JSON or written out"}},
        {QStringLiteral("edit"),
         {qv::dev::edit, "edit OPERATION-ID FILE [--at X,Y] [--do ACTIONS] [--screenshot OUT.png] [--no-run] [--unplayable]  open an editor, act on it, print what it submits"}},
        {QStringLiteral("info"),
         {qv::dev::info, "info PATH...         one JSON line of file information per path"}},
        {QStringLiteral("hud-demo"),
         {qv::dev::hudDemo, "hud-demo [--jobs N] [--failed FILE-NAME [--failure SENTENCE]] [--cancelling] [--toast TEXT] [--screenshot FILE]  fake jobs as pills, and a toast"}},
        {QStringLiteral("run"),
         {qv::dev::run, "run OPERATION-ID [--options JSON] FILE...  run one job headless, print its outcome"}},
        {QStringLiteral("render-demo"), {qv::dev::renderDemo, "render-demo --time T [--size WxH] --out FILE.png  one frame of the onboarding demonstration"}},
        {QStringLiteral("render-icon"), {qv::dev::renderIcon, "render-icon (--size N | --tray-panel COLOUR) --out FILE.png  the application's icon, or the tray's icons on a panel of that colour"}},
        {QStringLiteral("render-onboarding"), {qv::dev::renderOnboarding, "render-onboarding --out FILE.png [--time T]  the welcome window as a picture, with the practice photo"}},
        {QStringLiteral("render-preview"), {qv::dev::renderPreview, "render-preview FILE... --out FILE.png [--index N] [--size WxH]  the preview window offscreen on one of the files, and what it shows as JSON"}},
        {QStringLiteral("render-settings"), {qv::dev::renderSettings, "render-settings [--tab NAME] --out FILE.png  the settings window offscreen on one tab"}},
        {QStringLiteral("settings-window"), {qv::dev::renderSettings, "settings-window [--tab NAME] --screenshot FILE.png  the same as render-settings"}},
        {QStringLiteral("render-wheel"),
         {qv::dev::renderWheel, "render-wheel KIND FILE... --out FILE.png [--highlight N] [--more]  the wheel drawn offscreen"}},
        {QStringLiteral("settings"),
         {qv::dev::settings, "settings [export FILE | import FILE | reset]  the settings snapshot as JSON, or the Advanced tab's commands"}},
        {QStringLiteral("wheel"),
         {qv::dev::wheel, "wheel KIND FILE...   what the KIND wheel offers for the files, as JSON"}},
    };
    return table;
}

int usage()
{
    QTextStream err(stderr);
    err << "usage: quorvenda-dev COMMAND [ARGS...]\n\ncommands:\n";
    for (const auto& [name, command] : commands())
        err << "  " << command.help << '\n';
    return 2;
}

} // namespace

namespace qv::dev {

bool useWorkers()
{
    return qgetenv("QUORVENDA_IN_PROCESS") != "1";
}

QUrl fileUrl(const QString& argument)
{
    if (argument.startsWith(QLatin1String("file:")))
        return QUrl::fromEncoded(argument.toLatin1(), QUrl::StrictMode);
    return QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath());
}

} // namespace qv::dev

int main(int argc, char** argv)
{
    if (qv::dev::useWorkers())
        qv::WorkerTemplate::forkAtStart(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt takes the first thread that makes one of its objects for the main thread: this one,
    // not the pool's, which makes files while a run's worker starts.
    QThread::currentThread();
    // A run's worker loads while this process makes its application object.
    if (argc > 1 && std::strcmp(argv[1], "run") == 0)
        qv::dev::startRunWorker(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    QApplication app(argc, argv);
    qv::installSystemServices();
    // Users' files are read in worker processes, never here.
    qv::IsolatedReading::setEnabled(qv::dev::useWorkers());
    // Qt's text of an argument that is not UTF-8 names another file: such a one becomes a URL
    // that keeps its bytes.
    QStringList args;
    char* here = ::getcwd(nullptr, 0);
    const QByteArray workingFolder = here ? QByteArray(here) : QFile::encodeName(QDir::currentPath());
    std::free(here);
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        const QString text = QString::fromUtf8(raw);
        args.append(text.toUtf8() == raw
                        ? text
                        : QString::fromLatin1(qv::fileUrlForArgument(raw, workingFolder, QString()).toEncoded()));
    }
    if (args.isEmpty())
        return usage();
    const auto it = commands().find(args.takeFirst());
    if (it == commands().end())
        return usage();
    return it->second.run(args);
}
