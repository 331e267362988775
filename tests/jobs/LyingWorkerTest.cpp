// A worker whose decoder is compromised (quorvenda_lying_worker) tells the application lies
// about what it did; the user's files stay where they are and nothing but what was asked for is
// placed, under names and modes the application makes. With and without the namespaces.
#include "jobs/JobCenter.h"
#include "jobs/WorkerPool.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/files/PlainTree.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/NamespacesChoice.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace qv;
using qv::test::waitFor;

namespace {

const QString lie = QStringLiteral("test.lie");

class RecordingClipboard : public Clipboard {
public:
    void setText(const QString& text) override { texts.append(text); }
    void setFiles(const QList<QUrl>&) override {}
    QStringList texts;
};

class LyingWorkerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        namespaces.emplace(GetParam());
        registerDefaultSettings(store);
        ASSERT_TRUE(QDir().mkpath(inputs()));
        ASSERT_TRUE(QDir().mkpath(secrets()));
        test::writeFile(secrets() + QStringLiteral("/id_rsa"), "secret key");
        pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_lying_worker"),
                                            [](const QString& id) { return id == lie; }, 0);
        JobCenter::Services services;
        services.workers = pool.get();
        services.clipboard = &clipboard;
        center = std::make_unique<JobCenter>(store, clock, services);
    }

    void TearDown() override
    {
        center.reset();
        pool.reset();
        namespaces.reset();
    }

    QString inputs() const { return dir.filePath(QStringLiteral("in")); }
    QString secrets() const { return dir.filePath(QStringLiteral("ssh")); }

    JobPtr runToEnd(const QString& name, const QByteArray& lieTold)
    {
        const FileInfo input = fileInfoForURL(QUrl::fromLocalFile(test::writeFile(inputs() + QLatin1Char('/') + name, lieTold)));
        OperationDescriptor d;
        d.id = lie;
        d.verb = QStringLiteral("Testing");
        d.categories = {FileCategory::document, FileCategory::other};
        d.multiFile = MultiFileMode::each;
        WheelEntry entry;
        entry.id = lie;
        entry.operations = {d};
        JobPtr job = center->submit(entry, {input}, {}, std::nullopt);
        EXPECT_TRUE(job);
        if (job) {
            EXPECT_TRUE(waitFor([&] { return !job->isActive(); }, 120000));
        }
        return job;
    }

    // Everything in the inputs' folder but the inputs, hidden entries included.
    QStringList placed(const QStringList& inputNames) const
    {
        QStringList names = QDir(inputs()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& name : inputNames)
            names.removeAll(name);
        return names;
    }

    void expectRefused(const JobPtr& job, const QStringList& inputNames)
    {
        ASSERT_TRUE(job);
        ASSERT_TRUE(job->failure());
        EXPECT_EQ(job->failure()->message, QStringLiteral("The program reading this file misbehaved, so nothing was saved"))
            << job->failure()->details.toStdString();
        EXPECT_TRUE(job->outputs().isEmpty());
        EXPECT_EQ(placed(inputNames), QStringList());
        EXPECT_EQ(test::readFile(secrets() + QStringLiteral("/id_rsa")), "secret key");
    }

    QTemporaryDir dir;
    std::optional<test::NamespacesChoice> namespaces;
    SettingsStore store{QString()};
    test::FakeClock clock;
    RecordingClipboard clipboard;
    std::unique_ptr<WorkerPool> pool;
    std::unique_ptr<JobCenter> center;
};

} // namespace

TEST_P(LyingWorkerTest, AnHonestResultIsPlacedUnderTheApplicationsName)
{
    const JobPtr job = runToEnd(QStringLiteral("plain.txt"), "words");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(placed({QStringLiteral("plain.txt")}), QStringList{QStringLiteral("plain (copied).txt")});
    EXPECT_EQ(test::readFile(inputs() + QStringLiteral("/plain (copied).txt")), "words");
}

TEST_P(LyingWorkerTest, OutputsOutsideTheWorkFolderFailTheItem)
{
    const QString key = secrets() + QStringLiteral("/id_rsa");
    expectRefused(runToEnd(QStringLiteral("a.txt"), "outside " + QFile::encodeName(key)), {QStringLiteral("a.txt")});
    EXPECT_TRUE(clipboard.texts.isEmpty());
}

TEST_P(LyingWorkerTest, ClipboardTextAndMessagesAreNotTheWorkersToMake)
{
    const JobPtr job = runToEnd(QStringLiteral("b.txt"), "voice");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(placed({QStringLiteral("b.txt")}), QStringList{QStringLiteral("b (copied).txt")});
    // The operation copies nothing; of the messages, only one a tool would say is shown.
    EXPECT_TRUE(clipboard.texts.isEmpty()) << clipboard.texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(job->messages(), QStringList{QStringLiteral("12 % smaller")});
}

TEST_P(LyingWorkerTest, AResultReachedThroughALinkMovesNothing)
{
    expectRefused(runToEnd(QStringLiteral("c.txt"), "linked " + QFile::encodeName(secrets())), {QStringLiteral("c.txt")});
}

TEST_P(LyingWorkerTest, AResultFolderSwappedForALinkAfterStagingMovesNothing)
{
    // The user's file of the very name the result has, in a folder of its own.
    test::writeFile(secrets() + QStringLiteral("/d (copied).txt"), "the user's own");
    expectRefused(runToEnd(QStringLiteral("d.txt"), "swapped " + QFile::encodeName(secrets())), {QStringLiteral("d.txt")});
    EXPECT_EQ(test::readFile(secrets() + QStringLiteral("/d (copied).txt")), "the user's own");
}

TEST_P(LyingWorkerTest, NamesComeFromTheInputNotFromTheWorker)
{
    // A hidden name and a line break in the worker's name give way to the input's own (the
    // test operation has no words of its own); a hidden input gives a visible result.
    const JobPtr dot = runToEnd(QStringLiteral("e.txt"), "dotfile");
    ASSERT_TRUE(dot);
    EXPECT_EQ(dot->state(), Job::State::finished);
    const JobPtr broken = runToEnd(QStringLiteral("f.txt"), "newline");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->state(), Job::State::finished);
    const JobPtr hidden = runToEnd(QStringLiteral(".profile"), "words");
    ASSERT_TRUE(hidden);
    EXPECT_EQ(hidden->state(), Job::State::finished);
    QStringList names = placed({QStringLiteral("e.txt"), QStringLiteral("f.txt"), QStringLiteral(".profile")});
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("e"), QStringLiteral("f 2.txt"), QStringLiteral("profile (copied).txt")}));
    for (const QString& name : std::as_const(names)) {
        EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << name.toStdString();
        EXPECT_FALSE(name.contains(QLatin1Char('\n'))) << name.toStdString();
    }
}

TEST_P(LyingWorkerTest, ModesAreTheApplicationsToSet)
{
    const JobPtr job = runToEnd(QStringLiteral("g.txt"), "setuid");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state(), Job::State::finished);
    struct stat status {};
    ASSERT_EQ(::lstat(QFile::encodeName(inputs() + QStringLiteral("/g (copied).txt")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, PlainTree::fileMode());
}

TEST_P(LyingWorkerTest, OnlyWhatWasAskedForIsPlaced)
{
    // A folder where a file was asked for, and two results for one file.
    expectRefused(runToEnd(QStringLiteral("h.txt"), "folder"), {QStringLiteral("h.txt")});
    expectRefused(runToEnd(QStringLiteral("j.txt"), "extra"), {QStringLiteral("h.txt"), QStringLiteral("j.txt")});
    // A folder holds what its disk holds: ten thousand and one files are no lie.
    const JobPtr many = runToEnd(QStringLiteral("i.txt"), "many");
    ASSERT_TRUE(many);
    EXPECT_EQ(many->state(), Job::State::finished);
    EXPECT_EQ(QDir(inputs() + QStringLiteral("/i (copied)")).entryList(QDir::Files).size(), 10001);
    // But no more than the worker said it made.
    const JobPtr under = runToEnd(QStringLiteral("m.txt"), "undercount");
    expectRefused(under, {QStringLiteral("h.txt"), QStringLiteral("j.txt"), QStringLiteral("i.txt"),
                          QStringLiteral("i (copied)"), QStringLiteral("m.txt")});
    ASSERT_TRUE(under && under->failure());
    EXPECT_TRUE(under->failure()->details.contains(QStringLiteral("more than the 3 entries it listed")))
        << under->failure()->details.toStdString();
}

TEST_P(LyingWorkerTest, AHardLinkToAUsersFileIsNotPlaced)
{
    const QString victim = secrets() + QStringLiteral("/id_rsa");
    ::chmod(QFile::encodeName(victim).constData(), 0600);
    const JobPtr job = runToEnd(QStringLiteral("k.txt"), "hardlink " + QFile::encodeName(victim));
    ASSERT_TRUE(job);
    ASSERT_TRUE(job->failure());
    // Either the walls refused the link or the application refused the result.
    EXPECT_TRUE(job->failure()->message == QStringLiteral("Refused")
                || job->failure()->message == QStringLiteral("The program reading this file misbehaved, so nothing was saved"))
        << job->failure()->message.toStdString();
    EXPECT_EQ(placed({QStringLiteral("k.txt")}), QStringList());
    struct stat status {};
    ASSERT_EQ(::lstat(QFile::encodeName(victim).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(status.st_nlink, 1u);
}

TEST_P(LyingWorkerTest, TheReplyChannelIsClosedToWhatTheWorkerStarts)
{
    const JobPtr job = runToEnd(QStringLiteral("l.txt"), "channel");
    ASSERT_TRUE(job);
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("Refused")) << job->failure()->details.toStdString();
}

TEST_P(LyingWorkerTest, ProgressReportsDoNotKeepASpinningDecoderAlive)
{
    // Ten patiences of processor time, however it reports.
    store.setValue(SettingsKey::workerPatience, 1);
    const JobPtr job = runToEnd(QStringLiteral("m.txt"), "spin");
    ASSERT_TRUE(job);
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("This file took too long and was stopped"))
        << job->failure()->details.toStdString();
    EXPECT_TRUE(job->failure()->details.contains(QStringLiteral("processor time"))) << job->failure()->details.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Lies, LyingWorkerTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Namespaces") : std::string("WithoutNamespaces");
                         });
