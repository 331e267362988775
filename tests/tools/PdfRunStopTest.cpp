#include "support/PdfFixtures.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

using namespace qv::test;

namespace {

int filesBelow(const QString& folder, const QString& pattern)
{
    int count = 0;
    QDirIterator it(folder, {pattern}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

} // namespace

TEST(PdfRunStop, ATerminationSignalWhilePagesAreDrawnLeavesNothing)
{
    QTemporaryDir dir;
    const QString files = dir.filePath("files");
    QStringList texts;
    for (int i = 1; i <= 80; ++i)
        texts.append(QStringLiteral("Page %1").arg(i));
    const QString source = writeTextPdf(files + "/long.pdf", texts);
    const QByteArray before = readFile(source);
    const QString cache = dir.filePath("cache");

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CACHE_HOME", cache);
    env.remove("QUORVENDA_TEST_HARNESS");
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {"run", "convert.pdf.png", source});
    ASSERT_TRUE(run.waitForStarted(30000));
    // Some pages are written, most are not.
    waitFor([&] { return run.state() != QProcess::Running || filesBelow(cache, "*.png") >= 2; }, 60000);
    ASSERT_EQ(run.state(), QProcess::Running) << "the run ended before it could be stopped";
    ::kill(pid_t(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(30000));

    EXPECT_EQ(run.exitCode(), 1);
    const QList<QByteArray> lines = run.readAllStandardOutput().trimmed().split('\n');
    EXPECT_EQ(QJsonDocument::fromJson(lines.last()).object().value("state").toString(), "cancelled");
    EXPECT_EQ(folderEntries(files), QStringList{"long.pdf"});
    EXPECT_EQ(readFile(source), before);
    EXPECT_EQ(filesBelow(cache, "*"), 0);
}
