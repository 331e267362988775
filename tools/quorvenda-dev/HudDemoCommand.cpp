#include "Commands.h"
#include "PngFile.h"

#include "jobs/Job.h"
#include "jobs/Toasts.h"
#include "jobs/ui/HUDToast.h"
#include "jobs/ui/JobHUD.h"
#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/settings/SettingsStore.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace qv::dev {

namespace {

int demoUsage()
{
    QTextStream(stderr) << "usage: quorvenda-dev hud-demo [--jobs N] [--failed FILE-NAME [--failure SENTENCE]] [--cancelling] [--toast TEXT]"
                           " [--screenshot FILE]\n";
    return 2;
}

} // namespace

int hudDemo(const QStringList& args)
{
    int jobCount = 3;
    QString toast;
    QString screenshot;
    QString failedName;
    QString failureSentence = QStringLiteral("This file is damaged or not in a supported format");
    bool cancelling = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--cancelling")) {
            cancelling = true;
            continue;
        }
        if (i + 1 >= args.size())
            return demoUsage();
        if (arg == QLatin1String("--jobs")) {
            bool ok = false;
            jobCount = args[++i].toInt(&ok);
            if (!ok || jobCount < 0 || jobCount > 50) {
                QTextStream(stderr) << "--jobs takes a number from 0 to 50\n";
                return 2;
            }
        } else if (arg == QLatin1String("--failed")) {
            failedName = args[++i];
        } else if (arg == QLatin1String("--failure")) {
            failureSentence = args[++i];
        } else if (arg == QLatin1String("--toast")) {
            toast = args[++i];
        } else if (arg == QLatin1String("--screenshot")) {
            screenshot = args[++i];
        } else {
            return demoUsage();
        }
    }

    registerDefaultSettings(SettingsStore::shared());
    static HUDToastPresenter presenter;
    setToastPresenter(&presenter);

    static const char* const titles[] = {"Converting to PNG", "Compressing", "Making a GIF", "Extracting",
                                         "Merging", "Converting to MP4"};
    static const char* const symbols[] = {"arrow.triangle.2.circlepath", "arrow.down.right.and.arrow.up.left",
                                          "photo.stack", "archivebox", "rectangle.stack.badge.plus",
                                          "arrow.triangle.2.circlepath"};
    auto jobs = std::make_shared<QList<JobPtr>>();
    for (int i = 0; i < jobCount; ++i) {
        const int kind = i % 6;
        const int files = i % 3 == 1 ? 3 : 1;
        auto job = std::make_shared<Job>(QString::fromLatin1(titles[kind]), QString::fromLatin1(symbols[kind]),
                                         files, QStringLiteral("Holiday %1.heic").arg(i + 1), std::nullopt,
                                         Clock::system().now());
        // Various progress: the first waits for a slot, the others run at different points.
        if (i == 0) {
            job->setState(Job::State::waiting);
        } else {
            job->setState(Job::State::running);
            job->setFraction(double(i) / (jobCount + 1));
        }
        jobs->append(job);
        JobHUD::shared().show(job);
    }
    if (cancelling && !jobs->isEmpty()) {
        // The newest running job, asked to stop: as a click on its Cancel button leaves it.
        const JobPtr& job = jobs->last();
        job->setHasTask(true);
        job->cancelTask();
    }
    if (!failedName.isEmpty()) {
        // A failed job's pill, as a damaged file dropped on a conversion leaves it.
        auto job = std::make_shared<Job>(QStringLiteral("Converting to PNG"), QStringLiteral("arrow.triangle.2.circlepath"),
                                         1, failedName, std::nullopt, Clock::system().now());
        job->setState(Job::State::running);
        JobHUD::shared().show(job);
        const JobFailure failure{failureSentence, QStringLiteral("VipsJpeg: Premature end of JPEG file")};
        job->setFailure(failure);
        job->setItemOutcomes({Job::ItemOutcome{{failedName}, {}, {}, failure, false}});
        job->setState(Job::State::failed);
        JobHUD::shared().jobFinished(job);
        jobs->append(job);
    }
    if (!toast.isEmpty())
        showToast(toast, QStringLiteral("info.circle"), screenshot.isEmpty() ? 6.0 : 60.0);

    if (!screenshot.isEmpty()) {
        // Slide-ins take 0.25 s and fades 0.15 s: well settled after a second.
        QTimer::singleShot(1200, qApp, [screenshot] {
            QScreen* screen = QGuiApplication::primaryScreen();
            if (!screen)
                QTextStream(stderr) << "No screen to take a screenshot of\n";
            const bool saved = screen && writePng(screen->grabWindow(0).toImage(), screenshot);
            QCoreApplication::exit(saved ? 0 : 1);
        });
    } else {
        auto* ticker = new QTimer(qApp);
        QObject::connect(ticker, &QTimer::timeout, [jobs] {
            for (const JobPtr& job : *jobs) {
                if (job->state() == Job::State::running)
                    job->setFraction(std::fmod(job->fraction() + 0.004, 1.0));
            }
        });
        ticker->start(100);
    }
    return QCoreApplication::exec();
}

} // namespace qv::dev
