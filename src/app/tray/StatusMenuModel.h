#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace qv {

class JobCenter;
class SettingsStore;

// The words of the tray menu, in the Linux wording (the copied files stand for the file
// manager's selection; results are shown in their folder).
namespace StatusMenuText {
inline const QString convertCopiedFiles = QStringLiteral("Convert Copied Files…");
inline const QString recentConversions = QStringLiteral("Recent Conversions");
inline const QString showInFolder = QStringLiteral("Show in Folder");
inline const QString open = QStringLiteral("Open");
inline const QString clearMenu = QStringLiteral("Clear Menu");
inline const QString nothingYet = QStringLiteral("Nothing yet");
inline const QString activeJobs = QStringLiteral("Active Jobs");
inline const QString noJobsRunning = QStringLiteral("No jobs running");
inline const QString cancel = QStringLiteral("Cancel");
inline const QString pauseWheel = QStringLiteral("Pause Wheel");
inline const QString pauseWheelToolTip =
    QStringLiteral("Stops watching drags until you turn it back on");
inline const QString settings = QStringLiteral("Settings…");
inline const QString gettingStarted = QStringLiteral("Getting Started…");
inline const QString quit = QStringLiteral("Quit Quorvenda");
inline const QString noLongerThere = QStringLiteral(" is no longer there");
} // namespace StatusMenuText

// What the tray menu shows, taken afresh each time it opens.
struct StatusMenuModel {
    struct RecentResult {
        QUrl url;
        QString title;      // the file's name
        QString folderPath; // shown as its tooltip
    };
    struct JobLine {
        QUuid id;
        QString text;
    };

    std::optional<QKeySequence> convertShortcut;
    QList<RecentResult> recent; // only results that still exist, most recent first
    QList<JobLine> jobs;        // the active jobs, in the job centre's order
    bool paused = false;

    QString activeJobsTitle() const { return activeJobsTitle(jobs.size()); }

    static StatusMenuModel make(const JobCenter& jobs, const SettingsStore& store,
                                std::optional<QKeySequence> convertShortcut);

    static QList<RecentResult> existingRecentResults(const QList<QUrl>& recent);
    // "Active Jobs", or "Active Jobs (n)" while n jobs run.
    static QString activeJobsTitle(int activeCount);
    // "Compress: 3 files — 42 %"; no progress part until the job reports some.
    static QString jobLineText(const QString& title, int fileCount, const QString& firstFileName,
                               double fraction);

    // The menu's display of the stored hot key: Return, Tab and Space by their key codes,
    // other keys by their names; nothing for a name Qt cannot show.
    static std::optional<QKeySequence> keyEquivalent(quint32 keyCode, quint32 modifierMask,
                                                     const QString& keyName);
};

} // namespace qv
