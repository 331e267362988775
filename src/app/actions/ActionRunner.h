#pragma once

#include "app/actions/QuickActionRules.h"
#include "jobs/QuickActions.h"

#include <QObject>

#include <functional>

namespace qv {

class Clipboard;
class FileProbe;
class FolderChooser;
class MenuPresenter;
class Settings;
class Workspace;

// The quick actions of the Actions wheel on a Linux desktop: the clipboard, moves without
// overwriting, terminals in the items' folders, KDE Connect devices and e-mail. Each reports in
// a toast. Main thread; moves and program runs go to the background and report back.
class ActionRunner : public QObject, public QuickActions {
    Q_OBJECT
public:
    struct Services {
        Clipboard* clipboard = nullptr;
        Settings* settings = nullptr;
        Workspace* workspace = nullptr;
        MenuPresenter* menus = nullptr;
        FolderChooser* chooser = nullptr;
        const FileProbe* probe = nullptr;
        // Global, y down.
        std::function<QPointF()> pointer;
        std::function<double()> primaryHeight;
        // The program's path on PATH, else empty.
        std::function<QString(const QString& name)> findProgram;
        // Starts a program that outlives us; false with the reason when it could not start.
        std::function<bool(const ProgramCommand&, const QString& workingDirectory, QString* error)>
            startDetached;
        // Runs a program to its end, off the main thread: its exit status, -1 when it did not
        // start or end in time.
        std::function<int(const ProgramCommand&, QByteArray* output)> runProgram;
        std::function<void(std::function<void()>)> runInBackground;

        static Services system();
    };

    explicit ActionRunner(Services services, QObject* parent = nullptr);
    static ActionRunner& shared();

    void sendToDevice(const QList<QUrl>& urls) override;
    void copyFiles(const QList<QUrl>& urls) override;
    void showMoveMenu(const QList<QUrl>& urls, QPointF point) override;
    void copyPaths(const QList<QUrl>& urls, bool shellEscaped) override;
    void openInTerminal(const QList<QUrl>& urls) override;
    void sharePicker(const QList<QUrl>& urls, QPointF point) override;
    void floatFiles(const QList<QUrl>& urls, QPointF point) override;
    void preview(const QList<QUrl>& urls) override;

    void chooseMoveDestination(const QList<QUrl>& urls);
    void moveFiles(const QList<QUrl>& urls, const QString& destination);
    // The remembered folders that still exist, most recent first.
    QStringList recentMoveDestinations() const;

    // Whether moves or program runs are still to report.
    bool isBusy() const { return m_pending > 0; }

Q_SIGNALS:
    // The last background piece of an action has reported.
    void settled();

private:
    QPointF screenPoint(QPointF yUpPoint) const;
    void listDevices(std::function<void(const QList<Device>&)> done);
    void shareToDevice(const Device& device, const QList<QUrl>& urls);
    void background(std::function<void()> work, std::function<void()> report);
    void startMove();
    void finishMove(const QString& destination, qsizetype moved, const QString& failure);
    void deviceUnavailable();
    void deviceSharingMissing();
    void noDeviceReachable();

    struct PendingMove {
        QList<QUrl> urls;
        QString destination;
    };

    Services m_services;
    QList<PendingMove> m_moves; // the first one runs
    int m_pending = 0;
};

// Puts the actions behind the shared dispatcher.
void installQuickActions();

} // namespace qv
