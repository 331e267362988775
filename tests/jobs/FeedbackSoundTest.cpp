#include "jobs/FeedbackSoundPlayer.h"
#include "jobs/JobCenter.h"
#include "model/errors/CancellationError.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/feedback/CanberraSoundOutput.h"
#include "platform/feedback/SoundOutput.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace qv;

namespace {

struct RecordingOutput : SoundOutput {
    QList<std::pair<QString, double>> played;
    void play(const QString& name, double volume) override { played.append({name, volume}); }
};

OperationDescriptor operation(std::function<QList<QUrl>()> body)
{
    OperationDescriptor d;
    d.id = QStringLiteral("tool.document.test");
    d.verb = QStringLiteral("Testing");
    d.categories = {FileCategory::document};
    d.make = [body](const OperationContext&) -> std::shared_ptr<FileOperation> {
        return std::make_shared<BlockOperation>(
            [body](const QList<QUrl>&, OutputPlanner&, Progress&) { return body(); });
    };
    return d;
}

} // namespace

TEST(FeedbackSounds, EachOutcomePlaysItsSoundOnlyWhileSoundsAreOn)
{
    SettingsStore store{QString()};
    registerDefaultSettings(store);
    test::FakeClock clock;
    RecordingOutput output;
    FeedbackSoundPlayer player(store, output);
    JobCenter center(store, clock, JobCenter::Services{nullptr, nullptr, &player});

    QTemporaryDir dir;
    const FileInfo file = fileInfoForURL(QUrl::fromLocalFile(dir.filePath(QStringLiteral("a.txt"))));
    auto run = [&](std::function<QList<QUrl>()> body) {
        WheelEntry entry;
        entry.operations = {operation(std::move(body))};
        JobPtr job = center.submit(entry, {file}, {}, std::nullopt);
        QElapsedTimer timer;
        timer.start();
        while (job->isActive() && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return job;
    };

    store.setValue(SettingsKey::sounds, true);
    EXPECT_EQ(run([] { return QList<QUrl>{}; })->state(), Job::State::finished);
    ASSERT_EQ(output.played.size(), 1);
    EXPECT_EQ(output.played[0].first, QStringLiteral("Glass"));
    EXPECT_DOUBLE_EQ(output.played[0].second, 0.2);

    EXPECT_EQ(run([]() -> QList<QUrl> { throw std::runtime_error("boom"); })->state(), Job::State::failed);
    ASSERT_EQ(output.played.size(), 2);
    EXPECT_EQ(output.played[1].first, QStringLiteral("Basso"));
    EXPECT_DOUBLE_EQ(output.played[1].second, 0.25);

    JobPtr cancelled = run([]() -> QList<QUrl> { throw CancellationError(); });
    EXPECT_EQ(cancelled->state(), Job::State::cancelled);
    EXPECT_EQ(output.played.size(), 2);

    player.play(FeedbackSound::dispatch);
    ASSERT_EQ(output.played.size(), 3);
    EXPECT_EQ(output.played[2], std::make_pair(QStringLiteral("Pop"), 0.25));

    store.setValue(SettingsKey::sounds, false);
    run([] { return QList<QUrl>{}; });
    run([]() -> QList<QUrl> { throw std::runtime_error("boom"); });
    player.play(FeedbackSound::dispatch);
    EXPECT_EQ(output.played.size(), 3);
}

TEST(FeedbackSounds, TheSoundThemeTakesFreedesktopNamesAndDecibels)
{
    EXPECT_EQ(CanberraSoundOutput::themeSoundName(QStringLiteral("Pop")), QStringLiteral("message"));
    EXPECT_EQ(CanberraSoundOutput::themeSoundName(QStringLiteral("Glass")), QStringLiteral("complete"));
    EXPECT_EQ(CanberraSoundOutput::themeSoundName(QStringLiteral("Basso")), QStringLiteral("dialog-error"));
    EXPECT_TRUE(CanberraSoundOutput::themeSoundName(QStringLiteral("Ping")).isEmpty());
    EXPECT_NEAR(CanberraSoundOutput::decibels(0.2), -13.98, 0.01);
    EXPECT_NEAR(CanberraSoundOutput::decibels(0.25), -12.04, 0.01);
    EXPECT_DOUBLE_EQ(CanberraSoundOutput::decibels(1.0), 0.0);

    // Without an audio device playing is silent and harmless.
    CanberraSoundOutput output;
    output.play(QStringLiteral("Glass"), 0.2);
    output.play(QStringLiteral("Glass"), 0.2);
}
