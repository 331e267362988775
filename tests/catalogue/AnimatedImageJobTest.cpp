#include "catalogue/lists/AnimatedImageCatalogue.h"
#include "jobs/JobCenter.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

using namespace qv;

namespace {

// The image rows that make videos, run by the job engine as the wheel would start them.
class AnimatedImageJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("cache")));
        ASSERT_TRUE(QDir().mkpath(dir.filePath("in")));
        registerDefaultSettings(store);
        center = std::make_unique<JobCenter>(store, clock);
    }

    void TearDown() override
    {
        center.reset();
        qputenv("XDG_CACHE_HOME", savedCache);
    }

    FileInfo animation(const QString& name, int frames, const QString& size)
    {
        const QString path = dir.filePath("in/" + name);
        EXPECT_EQ(test::runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                              "testsrc2=size=" + size + ":rate=25", "-frames:v",
                                              QString::number(frames), "-c:v", "libwebp_anim", "-loop", "0",
                                              "file:" + path}),
                  0);
        FileInfo file = fileInfoForURL(QUrl::fromLocalFile(path));
        file.frameCount = frames;
        return file;
    }

    JobPtr submit(const OperationDescriptor& descriptor, const FileInfo& file)
    {
        WheelEntry entry;
        entry.id = descriptor.id;
        entry.operations = {descriptor};
        return center->submit(entry, {file}, {}, std::nullopt);
    }

    QStringList frameFiles() const
    {
        QStringList found;
        QDirIterator it(dir.path(), {"frame*.png"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(it.next());
        return found;
    }

    QStringList inputs() const
    {
        return QDir(dir.filePath("in")).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QByteArray savedCache;
    SettingsStore store{QString()};
    test::FakeClock clock;
    std::unique_ptr<JobCenter> center;
};

} // namespace

TEST_F(AnimatedImageJobTest, AJobPlacesTheVideoBesideTheAnimation)
{
    const JobPtr job = submit(animatedImageVideoConversions()[1], animation("wave.webp", 8, "96x64"));
    ASSERT_TRUE(job);
    ASSERT_TRUE(test::waitFor([&] { return !job->isActive(); }, 60000));
    EXPECT_EQ(job->state(), Job::State::finished);
    ASSERT_EQ(job->outputs().size(), 1);
    EXPECT_EQ(job->outputs().first().toLocalFile(), dir.filePath("in/wave.webm"));
    EXPECT_EQ(inputs(), (QStringList{"wave.webm", "wave.webp"}));
}

TEST_F(AnimatedImageJobTest, ACancelledJobLeavesOnlyItsInput)
{
    const FileInfo file = animation("long.webp", 150, "640x360");
    const QByteArray before = test::readFile(file.path());
    const JobPtr job = submit(animatedImageVideoConversions()[0], file);
    ASSERT_TRUE(job);
    // Stopped while it writes frames: the first one is there, the list not yet.
    ASSERT_TRUE(test::waitFor([&] { return !frameFiles().isEmpty() || !job->isActive(); }, 60000));
    center->cancel(job);
    ASSERT_TRUE(test::waitFor([&] { return !job->isActive(); }, 60000));
    EXPECT_EQ(job->state(), Job::State::cancelled);
    EXPECT_TRUE(job->outputs().isEmpty());
    EXPECT_EQ(inputs(), QStringList{"long.webp"});
    EXPECT_EQ(test::readFile(file.path()), before);
    // The work folder went with the job.
    EXPECT_TRUE(test::waitFor([&] { return frameFiles().isEmpty(); }));
}
