#include "Commands.h"

#include "app/actions/ActionRunner.h"
#include "catalogue/ToolRegistry.h"
#include "jobs/OperationDispatcher.h"
#include "jobs/Toasts.h"
#include "model/files/FileInfo.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/FolderChooser.h"
#include "platform/desktop/MenuPresenter.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/settings/SettingsStore.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <optional>

namespace qv::dev {

namespace {

int actionUsage(const QString& problem = {})
{
    QTextStream err(stderr);
    if (!problem.isEmpty())
        err << problem << '\n';
    err << "usage: quorvenda-dev action ACTION-ID [--alt] [--at X,Y] [--folder DIR] [--pick TITLE]"
           " [--stay SECONDS] FILE...\n";
    return 2;
}

struct LastToast : ToastPresenter {
    std::optional<QString> text;
    void show(const Toast& toast) override { text = toast.text; }
};

// Answers menus as --pick says, else dismisses them.
struct PickingMenus : MenuPresenter {
    std::optional<QString> pick;
    std::optional<QJsonArray> titles;

    void popUp(const QList<MenuEntry>& entries, QPointF, std::function<void(int)> chosen) override
    {
        QJsonArray shown;
        for (const MenuEntry& entry : entries)
            shown.append(entry.isSeparator ? QStringLiteral("-") : entry.title);
        titles = shown;
        if (!pick)
            return;
        for (int i = 0; i < entries.size(); ++i) {
            if (!entries[i].isSeparator && entries[i].enabled && entries[i].title == *pick) {
                chosen(i);
                return;
            }
        }
    }
};

// Answers the folder chooser with --folder, else cancels it.
struct AnsweringChooser : FolderChooser {
    std::optional<QString> answer;
    std::optional<QJsonObject> asked;

    void chooseFolder(const QString& message, const QString&, const QString& startFolder,
                      std::function<void(const QString&)> chosen) override
    {
        asked = QJsonObject{{QStringLiteral("message"), message},
                            {QStringLiteral("folder"), startFolder}};
        if (answer)
            chosen(*answer);
    }
};

QJsonArray visibleWindows()
{
    QJsonArray windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible())
            continue;
        const QRect frame = widget->geometry();
        windows.append(QJsonObject{{QStringLiteral("title"), widget->windowTitle()},
                                   {QStringLiteral("x"), frame.x()},
                                   {QStringLiteral("y"), frame.y()},
                                   {QStringLiteral("width"), frame.width()},
                                   {QStringLiteral("height"), frame.height()}});
    }
    return windows;
}

void runEventLoopFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int action(const QStringList& args)
{
    if (args.isEmpty())
        return actionUsage();
    const QString id = args.first();
    bool alt = false;
    std::optional<QPointF> at;
    double stay = 0;
    static PickingMenus menus;
    static AnsweringChooser chooser;
    QStringList paths;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--alt")) {
            alt = true;
        } else if (arg == QLatin1String("--at") && hasValue) {
            const QStringList xy = args[++i].split(QLatin1Char(','));
            bool okX = false, okY = false;
            if (xy.size() == 2)
                at = QPointF(xy[0].toDouble(&okX), xy[1].toDouble(&okY));
            if (!okX || !okY)
                return actionUsage(QStringLiteral("--at takes X,Y"));
        } else if (arg == QLatin1String("--folder") && hasValue) {
            chooser.answer = QFileInfo(args[++i]).absoluteFilePath();
        } else if (arg == QLatin1String("--pick") && hasValue) {
            menus.pick = args[++i];
        } else if (arg == QLatin1String("--stay") && hasValue) {
            bool ok = false;
            stay = args[++i].toDouble(&ok);
            if (!ok || stay < 0 || stay > 3600)
                return actionUsage(QStringLiteral("--stay takes seconds from 0 to 3600"));
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            return actionUsage(QStringLiteral("Unknown option: ") + arg);
        } else {
            paths.append(arg);
        }
    }
    if (paths.isEmpty())
        return actionUsage(QStringLiteral("No files given."));

    registerDefaultSettings(SettingsStore::shared());
    const QList<OperationDescriptor>& catalogue = ToolRegistry::shared().catalogue();
    const auto it = std::find_if(catalogue.begin(), catalogue.end(), [&](const OperationDescriptor& d) {
        return d.id == id && d.behavior.kind == OperationBehavior::Kind::action;
    });
    if (it == catalogue.end())
        return actionUsage(QStringLiteral("Unknown action: ") + id);

    static LastToast toasts;
    setToastPresenter(&toasts);
    const QPointF pointer = at.value_or(QPointF(QCursor::pos()));
    ActionRunner::Services services = ActionRunner::Services::system();
    services.menus = &menus;
    services.chooser = &chooser;
    services.pointer = [pointer] { return pointer; };
    // Lives as long as the process: the dispatcher keeps pointing at it.
    ActionRunner& runner = *new ActionRunner(services);
    OperationDispatcher::shared().hooks().quickActions = &runner;

    QList<FileInfo> files;
    for (const QString& path : paths)
        files.append(fileInfoForURL(fileUrl(path)));
    const WheelEntry entry = WheelEntry::forOperation(*it, it->wheel);
    // The dispatcher measures from the bottom-left, as the wheel hands points over.
    OperationDispatcher::shared().dispatchOperation(entry, files, {}, alt,
                                                    flipY(pointer, services.primaryHeight()));
    if (runner.isBusy()) {
        QEventLoop loop;
        QObject::connect(&runner, &ActionRunner::settled, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // Windows map and paint in the next turns of the loop.
    runEventLoopFor(100);
    SettingsStore::shared().flush();

    QJsonObject result{
        {QStringLiteral("toast"), toasts.text ? QJsonValue(*toasts.text) : QJsonValue()},
        {QStringLiteral("menu"), menus.titles ? QJsonValue(*menus.titles) : QJsonValue()},
        {QStringLiteral("chooser"), chooser.asked ? QJsonValue(*chooser.asked) : QJsonValue()},
        {QStringLiteral("windows"), visibleWindows()},
    };
    std::fputs(QJsonDocument(result).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);

    if (stay > 0)
        runEventLoopFor(int(stay * 1000));
    setToastPresenter(nullptr);
    return 0;
}

} // namespace qv::dev
