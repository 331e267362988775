#include "platform/files/JobJournal.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv;

namespace {

// Off again after each test: nothing else writes the journal.
struct JournalAt {
    explicit JournalAt(const QString& path) { JobJournal::setPath(path); }
    ~JournalAt() { JobJournal::setPath(QString()); }
};

QByteArray bootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

} // namespace

TEST(JobJournal, JobsOfAProcessThatDiedAreNamedOnceAtTheNextStart)
{
    if (bootId().isEmpty())
        GTEST_SKIP() << "no /proc here to tell processes apart";
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("state/quorvenda/jobs-in-flight"));
    EXPECT_FALSE(JobJournal::isEnabled());
    EXPECT_TRUE(JobJournal::add(QUuid::createUuid(), QStringLiteral("off"))); // nothing written
    EXPECT_FALSE(QFile::exists(path));

    const JournalAt journal(path);
    ASSERT_TRUE(JobJournal::isEnabled());
    const QUuid ours = QUuid::createUuid();
    const QUuid ended = QUuid::createUuid();
    ASSERT_TRUE(JobJournal::add(ours, JobJournal::describe(QStringLiteral("Converting to PNG"), QStringLiteral("a b.jpg"), 1)));
    ASSERT_TRUE(JobJournal::add(ended, QStringLiteral("done")));
    ASSERT_TRUE(JobJournal::remove(ended));

    // What a killed run left: a process that has ended, of this boot and of an earlier one.
    QProcess gone;
    gone.start(QStringLiteral("true"));
    ASSERT_TRUE(gone.waitForFinished());
    const QByteArray deadPid = QByteArray::number(gone.processId());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(bootId() + ' ' + deadPid + " 12345 " + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + ' '
                   + QStringLiteral("Compressing \u201Cclip.mov\u201D").toUtf8().toPercentEncoding() + '\n');
        file.write("earlier-boot 1 1 " + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + " Extracting%20x.zip\n");
        file.write("not a record\n");
    }

    const QStringList interrupted = JobJournal::takeInterrupted();
    EXPECT_EQ(interrupted, (QStringList{QStringLiteral("Compressing \u201Cclip.mov\u201D"), QStringLiteral("Extracting x.zip")}));
    EXPECT_TRUE(JobJournal::takeInterrupted().isEmpty()) << "named once";

    // This process's own job is still running: it stays listed until it ends.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray left = file.readAll();
    EXPECT_EQ(left.count('\n'), 1);
    EXPECT_TRUE(left.contains(ours.toByteArray(QUuid::WithoutBraces)));
    ASSERT_TRUE(JobJournal::remove(ours));

    EXPECT_EQ(JobJournal::interruptedMessage({}), QString());
    EXPECT_EQ(JobJournal::interruptedMessage({QStringLiteral("Converting to PNG \u201Ca.jpg\u201D")}),
              QStringLiteral("Cut short when Quorvenda last stopped: Converting to PNG \u201Ca.jpg\u201D"));
    EXPECT_EQ(JobJournal::interruptedMessage({QStringLiteral("A"), QStringLiteral("B")}),
              QStringLiteral("2 jobs were cut short when Quorvenda last stopped: A, B"));
    EXPECT_EQ(JobJournal::describe(QStringLiteral("Resizing"), QStringLiteral("a.png"), 3),
              QStringLiteral("Resizing \u201Ca.png\u201D and 2 more"));
}
