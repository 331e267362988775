#include "app/actions/ActionRunner.h"

#include "app/actions/FileDialogFolderChooser.h"
#include "app/float/FloatPanel.h"
#include "app/preview/PreviewAction.h"
#include "app/tray/PopupMenuPresenter.h"
#include "jobs/OperationDispatcher.h"
#include "jobs/Toasts.h"
#include "model/errors/JobFailure.h"
#include "model/files/FileProbe.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/FolderChooser.h"
#include "platform/desktop/MenuPresenter.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/desktop/Workspace.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/processes/ThreadCall.h"

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace qv {

namespace {

const QString warningSymbol = QStringLiteral("exclamationmark.triangle");

// A device or a mail program that does not answer in this time is not available.
constexpr auto programDeadline = std::chrono::seconds(30);

int runToEnd(const ProgramCommand& command, QByteArray* output)
{
    std::stop_source stop;
    std::jthread watchdog([&stop](std::stop_token finished) {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        if (!wake.wait_for(lock, finished, programDeadline, [] { return false; })
            && !finished.stop_requested())
            stop.request_stop();
    });
    try {
        const ProcessRunner::Output result = ProcessRunner::run(
            QUrl::fromLocalFile(command.program), command.arguments, stop.get_token());
        if (output)
            *output = result.stdoutData;
        return result.terminatedBySignal ? -1 : result.status;
    } catch (...) {
        return -1;
    }
}

bool startDetachedProgram(const ProgramCommand& command, const QString& workingDirectory,
                          QString* error)
{
    if (QStandardPaths::findExecutable(command.program).isEmpty()) {
        if (error)
            *error = QFileInfo(command.program).fileName() + QStringLiteral(" was not found");
        return false;
    }
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    // What it prints is not ours to read, and must not mix with our own output.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (error) {
        *error = process.errorString();
        if (error->isEmpty() || *error == QLatin1String("Unknown error"))
            *error = QStringLiteral("%1 could not be started").arg(QFileInfo(command.program).fileName());
    }
    return false;
}

} // namespace

ActionRunner::Services ActionRunner::Services::system()
{
    static PopupMenuPresenter menus;
    static FileDialogFolderChooser chooser;
    Services services;
    services.clipboard = &Clipboard::system();
    services.settings = &Settings::shared();
    services.workspace = &Workspace::system();
    services.menus = &menus;
    services.chooser = &chooser;
    services.probe = &FileProbe::system();
    services.pointer = [] { return QPointF(QCursor::pos()); };
    services.primaryHeight = [] { return ScreenProvider::system().primaryHeight(); };
    services.findProgram = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    services.startDetached = startDetachedProgram;
    services.runProgram = runToEnd;
    services.runInBackground = [](std::function<void()> work) { qv::runInBackground(std::move(work)); };
    return services;
}

ActionRunner::ActionRunner(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
}

ActionRunner& ActionRunner::shared()
{
    static ActionRunner* runner = new ActionRunner(Services::system());
    return *runner;
}

void installQuickActions()
{
    OperationDispatcher::shared().hooks().quickActions = &ActionRunner::shared();
}

QPointF ActionRunner::screenPoint(QPointF yUpPoint) const
{
    return flipY(yUpPoint, m_services.primaryHeight());
}

void ActionRunner::background(std::function<void()> work, std::function<void()> report)
{
    ++m_pending;
    m_services.runInBackground([this, work = std::move(work), report = std::move(report)] {
        work();
        postToMainThread(this, [this, report] {
            report();
            if (--m_pending == 0)
                Q_EMIT settled();
        });
    });
}

// --- Copy and Copy Path ----------------------------------------------------------------

void ActionRunner::copyFiles(const QList<QUrl>& urls)
{
    m_services.clipboard->setFiles(urls);
    showToast(copyToastText(urls), QStringLiteral("doc.on.doc"));
}

void ActionRunner::copyPaths(const QList<QUrl>& urls, bool shellEscaped)
{
    m_services.clipboard->setText(copiedPathsText(urls, shellEscaped));
    showToast(copyPathToastText(urls.size(), shellEscaped), QStringLiteral("link"));
}

// --- Move ------------------------------------------------------------------------------

QStringList ActionRunner::recentMoveDestinations() const
{
    return existingDestinations(
        m_services.settings->stringListValue(SettingsKey::recentMoveDestinations).value_or(QStringList()));
}

void ActionRunner::showMoveMenu(const QList<QUrl>& urls, QPointF point)
{
    const QStringList folders = recentMoveDestinations();
    if (folders.isEmpty()) {
        chooseMoveDestination(urls);
        return;
    }
    const QList<MenuEntry> entries = moveMenuEntries(urls, folders);
    const int chooseIndex = int(entries.size()) - 1;
    m_services.menus->popUp(entries, screenPoint(point),
                            [this, urls, folders, chooseIndex](int index) {
                                if (index == chooseIndex)
                                    chooseMoveDestination(urls);
                                else if (index >= 1 && index <= folders.size())
                                    moveFiles(urls, folders[index - 1]);
                            });
}

void ActionRunner::chooseMoveDestination(const QList<QUrl>& urls)
{
    const QString start = urls.isEmpty()
        ? QString()
        : QFileInfo(QDir::cleanPath(urls.first().toLocalFile())).absolutePath();
    m_services.chooser->chooseFolder(moveChooserMessage(urls), QStringLiteral("Move Here"), start,
                                     [this, urls](const QString& folder) { moveFiles(urls, folder); });
}

void ActionRunner::moveFiles(const QList<QUrl>& urls, const QString& destination)
{
    // Moves go one after the other, in the order asked, so that they never race for the same
    // items and the recent list ends in the order the user chose.
    m_moves.append({urls, QDir::cleanPath(destination)});
    if (m_moves.size() == 1)
        startMove();
}

void ActionRunner::startMove()
{
    struct Outcome {
        qsizetype moved = 0;
        QString failure;
    };
    const PendingMove move = m_moves.first();
    auto outcome = std::make_shared<Outcome>();
    // A copy across filesystems may take a while: not on the main thread.
    background(
        [move, outcome] {
            for (const QUrl& url : move.urls) {
                try {
                    if (moveIntoFolder(url, move.destination))
                        ++outcome->moved;
                } catch (...) {
                    outcome->failure = jobFailure(std::current_exception()).message;
                }
            }
        },
        [this, move, outcome] {
            finishMove(move.destination, outcome->moved, outcome->failure);
            m_moves.removeFirst();
            if (!m_moves.isEmpty())
                startMove();
        });
}

void ActionRunner::finishMove(const QString& destination, qsizetype moved, const QString& failure)
{
    Settings& settings = *m_services.settings;
    settings.setValue(SettingsKey::recentMoveDestinations,
                      rememberDestination(settings.stringListValue(SettingsKey::recentMoveDestinations)
                                              .value_or(QStringList()),
                                          destination));
    if (!failure.isEmpty()) {
        showToast(QStringLiteral("Couldn't move: ") + failure, warningSymbol);
    } else if (moved > 0) {
        Workspace* workspace = m_services.workspace;
        showToast(moveToastText(moved, destination), QStringLiteral("folder"), 3.0,
                  [workspace, destination] { workspace->reveal({QUrl::fromLocalFile(destination)}); });
    }
}

// --- Terminal --------------------------------------------------------------------------

void ActionRunner::openInTerminal(const QList<QUrl>& urls)
{
    const std::optional<ProgramCommand> command = terminalCommand(*m_services.settings, m_services.findProgram);
    if (!command) {
        showToast(QStringLiteral("No terminal was found: install one (xterm, for example) or choose yours in Settings, Advanced"), warningSymbol);
        return;
    }
    for (const QString& folder : terminalFolders(urls, *m_services.probe)) {
        QString error;
        if (!m_services.startDetached(*command, folder, &error)) {
            showToast(QStringLiteral("Couldn't open the terminal: ") + error, warningSymbol);
            return;
        }
    }
}

// --- Devices and sharing ---------------------------------------------------------------

void ActionRunner::deviceUnavailable()
{
    showToast(QStringLiteral("Sending to a device isn't available right now"), warningSymbol);
}

// What stands in the way, and what to install.
void ActionRunner::deviceSharingMissing()
{
    showToast(QStringLiteral("Install KDE Connect to send files to a device"), warningSymbol);
}

void ActionRunner::noDeviceReachable()
{
    showToast(QStringLiteral("No device is reachable: install KDE Connect on it and pair it with this computer"),
              warningSymbol);
}

void ActionRunner::listDevices(std::function<void(const QList<Device>&)> done)
{
    const QString program = m_services.findProgram(QStringLiteral("kdeconnect-cli"));
    if (program.isEmpty()) {
        done({});
        return;
    }
    auto devices = std::make_shared<QList<Device>>();
    auto run = m_services.runProgram;
    background(
        [program, devices, run] {
            QByteArray output;
            const ProgramCommand command{program, {QStringLiteral("--list-available"),
                                                   QStringLiteral("--id-name-only")}};
            if (run(command, &output) == 0)
                *devices = parseDeviceList(QString::fromUtf8(output));
        },
        [devices, done] { done(*devices); });
}

void ActionRunner::shareToDevice(const Device& device, const QList<QUrl>& urls)
{
    const QString program = m_services.findProgram(QStringLiteral("kdeconnect-cli"));
    if (program.isEmpty()) {
        deviceSharingMissing();
        return;
    }
    auto refused = std::make_shared<bool>(false);
    auto run = m_services.runProgram;
    background(
        [program, device, urls, refused, run] {
            for (const QUrl& url : urls) {
                const ProgramCommand command{program, {QStringLiteral("--device"), device.id,
                                                       QStringLiteral("--share"), url.toLocalFile()}};
                if (run(command, nullptr) != 0)
                    *refused = true;
            }
        },
        [this, refused] {
            if (*refused)
                deviceUnavailable();
        });
}

void ActionRunner::sendToDevice(const QList<QUrl>& urls)
{
    if (m_services.findProgram(QStringLiteral("kdeconnect-cli")).isEmpty()) {
        deviceSharingMissing();
        return;
    }
    listDevices([this, urls](const QList<Device>& devices) {
        if (devices.isEmpty()) {
            noDeviceReachable();
        } else if (devices.size() == 1) {
            shareToDevice(devices.first(), urls);
        } else {
            QList<MenuEntry> entries;
            for (const Device& device : devices)
                entries.append({QStringLiteral("Send to ") + device.name, {}, QStringLiteral("smartphone"), true, false});
            m_services.menus->popUp(entries, m_services.pointer(), [this, urls, devices](int index) {
                if (index >= 0 && index < devices.size())
                    shareToDevice(devices[index], urls);
            });
        }
    });
}

void ActionRunner::sharePicker(const QList<QUrl>& urls, QPointF point)
{
    const QString email = m_services.findProgram(QStringLiteral("xdg-email"));
    const QPointF at = screenPoint(point);
    listDevices([this, urls, email, at](const QList<Device>& devices) {
        QList<MenuEntry> entries;
        if (!email.isEmpty())
            entries.append({QStringLiteral("Email…"), {}, QStringLiteral("mail-message-new"), true, false});
        for (const Device& device : devices)
            entries.append({QStringLiteral("Send to ") + device.name, {}, QStringLiteral("smartphone"), true, false});
        if (entries.isEmpty()) {
            showToast(email.isEmpty() && m_services.findProgram(QStringLiteral("kdeconnect-cli")).isEmpty()
                          ? QStringLiteral("Install xdg-utils or KDE Connect to share files")
                          : QStringLiteral("Sharing isn't available right now"),
                      warningSymbol);
            return;
        }
        const int firstDevice = email.isEmpty() ? 0 : 1;
        m_services.menus->popUp(entries, at, [this, urls, email, devices, firstDevice](int index) {
            if (index < firstDevice) {
                ProgramCommand command{email, {}};
                for (const QUrl& url : urls)
                    command.arguments << QStringLiteral("--attach") << url.toLocalFile();
                QString error;
                if (!m_services.startDetached(command, QString(), &error))
                    showToast(QStringLiteral("Sharing isn't available right now"), warningSymbol);
            } else if (index - firstDevice < devices.size()) {
                shareToDevice(devices[index - firstDevice], urls);
            }
        });
    });
}

void ActionRunner::floatFiles(const QList<QUrl>& urls, QPointF point)
{
    qv::floatFiles(urls, point);
}

void ActionRunner::preview(const QList<QUrl>& urls)
{
    PreviewAction::shared().show(urls);
}

} // namespace qv
