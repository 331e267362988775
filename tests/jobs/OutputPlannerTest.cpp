#include "jobs/OutputPlanner.h"

#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/JobNotes.h"
#include "platform/files/FileAttributes.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "support/FakeClock.h"
#include "support/FatStick.h"
#include "support/SmallDisk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QUuid>
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qv;
using qv::test::readFile;
using qv::test::writeFile;

namespace {

QStringList entries(const QString& folder)
{
    QStringList list = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden
                                              | QDir::NoDotAndDotDot);
    list.sort();
    return list;
}

// Records what happens to the entries of a folder, as another program watching it would see it.
class FolderWatch {
public:
    explicit FolderWatch(const QString& folder)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(),
                            IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE);
    }
    ~FolderWatch() { ::close(m_fd); }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool isValid() const { return m_fd >= 0; }

    // The events of one entry so far, in order.
    QList<uint32_t> eventsOf(const QString& name)
    {
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t got; (got = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0)
                    m_events.append({QFile::decodeName(event->name), event->mask});
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
        QList<uint32_t> masks;
        for (const auto& [entry, mask] : m_events) {
            if (entry == name)
                masks.append(mask & ~IN_ISDIR);
        }
        return masks;
    }

private:
    int m_fd;
    QList<std::pair<QString, uint32_t>> m_events;
};

class RefusingProbe : public WriteAccessProbe {
public:
    explicit RefusingProbe(QString refused) : m_refused(std::move(refused)) {}
    bool canWrite(const QString& folder) const override
    {
        return QDir::cleanPath(folder) != QDir::cleanPath(m_refused);
    }

private:
    QString m_refused;
};

class OutputPlannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
        ASSERT_TRUE(QDir().mkpath(sourceFolder()));
        writeFile(sourcePath(), "original photo");
        m_settings.fallbackFolder = QUrl::fromLocalFile(fallbackFolder());
    }
    void TearDown() override { qputenv("XDG_CACHE_HOME", m_saved); }

    QString sourceFolder() const { return m_dir.filePath(QStringLiteral("Pictures")); }
    QString sourcePath() const { return sourceFolder() + QStringLiteral("/photo.jpg"); }
    QUrl source() const { return QUrl::fromLocalFile(sourcePath()); }
    QString fallbackFolder() const { return m_dir.filePath(QStringLiteral("Downloads")); }

    // What an engine does: write a result into the work directory, then deliver it.
    QUrl produce(const OutputPlanner& planner, const QByteArray& data,
                 const QString& suffix = QStringLiteral("compressed"))
    {
        const QUrl work = planner.workURL(QStringLiteral("jpg"),
                                          QUuid::createUuid().toString(QUuid::WithoutBraces));
        writeFile(work.toLocalFile(), data);
        return planner.deliver(work, planner.outputBaseName(suffix), QStringLiteral("jpg"));
    }

    QTemporaryDir m_dir;
    QByteArray m_saved;
    SettingsSnapshot m_settings;
    test::FakeClock m_clock;
};

} // namespace

TEST_F(OutputPlannerTest, NamesResultsAfterTheSourceWithoutTakingANameTwice)
{
    const QString suffix = m_settings.suffixForOperation(QStringLiteral("compress"));
    for (int i = 1; i <= 3; ++i) {
        OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
        EXPECT_EQ(planner.destinationFolder(), QUrl::fromLocalFile(sourceFolder()));
        produce(planner, QByteArray::number(i), suffix);
    }
    EXPECT_EQ(entries(sourceFolder()),
              (QStringList{QStringLiteral("photo (compressed) 2.jpg"),
                           QStringLiteral("photo (compressed) 3.jpg"),
                           QStringLiteral("photo (compressed).jpg"),
                           QStringLiteral("photo.jpg")}));
    EXPECT_EQ(readFile(sourceFolder() + QStringLiteral("/photo (compressed) 3.jpg")), "3");
    EXPECT_EQ(readFile(sourcePath()), "original photo");

    OutputPlanner planner(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("a.tar.gz"))),
                          m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    EXPECT_EQ(planner.outputBaseName(), QStringLiteral("a"));
    EXPECT_EQ(planner.outputBaseName(QString()), QStringLiteral("a"));
    EXPECT_EQ(planner.outputBaseName(QStringLiteral("parts"), QStringLiteral("b")),
              QStringLiteral("b (parts)"));
    // A folder given with a final slash is still named after itself.
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("Album"))));
    const OutputPlanner folder(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("Album/"))),
                               m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    EXPECT_EQ(folder.outputBaseName(QStringLiteral("zipped")), QStringLiteral("Album (zipped)"));
    EXPECT_EQ(folder.destinationFolder(), QUrl::fromLocalFile(m_dir.path()));
    EXPECT_EQ(OutputPlanner::candidateName(QStringLiteral("x"), QString(), 1), QStringLiteral("x"));
    EXPECT_EQ(OutputPlanner::candidateName(QStringLiteral("x"), QString(), 2),
              QStringLiteral("x 2"));
}

TEST_F(OutputPlannerTest, WorksBesideTheResultsWhenTheTemporaryRootCannotBeMade)
{
    // A file where the cache folder should be: the root cannot be made.
    writeFile(m_dir.filePath(QStringLiteral("cache")), "not a folder");
    OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    const QString work = planner.workDirectory().toLocalFile();
    EXPECT_EQ(QFileInfo(work).absolutePath(), sourceFolder());
    EXPECT_TRUE(QFileInfo(work).fileName().startsWith(QLatin1String(WorkFolder::hiddenPrefix)));
    EXPECT_EQ(QFileInfo(produce(planner, "r").toLocalFile()).fileName(),
              QStringLiteral("photo (compressed).jpg"));
    planner.removeWorkDirectory();
    EXPECT_EQ(entries(sourceFolder()),
              (QStringList{QStringLiteral("photo (compressed).jpg"), QStringLiteral("photo.jpg")}));

    // With no destination folder either, there is nowhere to work.
    const QUrl lost = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("Gone/photo.jpg")));
    const RefusingProbe refusing(m_dir.filePath(QStringLiteral("Gone")));
    m_settings.fallbackFolder = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("NoDownloads")));
    EXPECT_THROW(OutputPlanner(lost, m_settings, nullptr, refusing, m_clock), SystemError);
}

TEST_F(OutputPlannerTest, FoldersAndLongOrUnsafeNamesArePlacedInsideTheDestination)
{
    OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    ASSERT_TRUE(QDir().mkpath(sourceFolder() + QStringLiteral("/photo/inner")));
    writeFile(sourceFolder() + QStringLiteral("/photo/inner/x"), "x"); // non-empty: ENOTEMPTY
    const QUrl extracted = planner.makeWorkSubdirectory(QStringLiteral("out"));
    writeFile(extracted.toLocalFile() + QStringLiteral("/file.txt"), "content");
    const QUrl result = planner.deliver(extracted, planner.outputBaseName(), QString());
    EXPECT_EQ(result.toLocalFile(), sourceFolder() + QStringLiteral("/photo 2"));
    EXPECT_EQ(readFile(result.toLocalFile() + QStringLiteral("/file.txt")), "content");

    const QUrl work = planner.workURL(QStringLiteral("txt"), QStringLiteral("w"));
    writeFile(work.toLocalFile(), "escape");
    const QUrl placed = planner.deliver(work, QStringLiteral("../../evil"), QStringLiteral("txt"));
    EXPECT_EQ(QFileInfo(placed.toLocalFile()).absolutePath(), sourceFolder());

    writeFile(work.toLocalFile(), "long");
    const QUrl longName = planner.deliver(work, QString(300, QChar(0x00E9)), QStringLiteral("txt"));
    EXPECT_EQ(readFile(longName.toLocalFile()), "long");
    EXPECT_LE(QFileInfo(longName.toLocalFile()).fileName().toUtf8().size(), 255);
}

TEST_F(OutputPlannerTest, ConcurrentDeliveriesNeverOverwrite)
{
    const QString taken = sourceFolder() + QStringLiteral("/photo (compressed).jpg");
    writeFile(taken, "already there");
    constexpr int count = 8;
    std::vector<std::thread> threads;
    std::vector<QString> results(count);
    std::vector<std::string> failures(count);
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            try {
                OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(),
                                      m_clock);
                const QUrl work = planner.workURL(QStringLiteral("jpg"), QStringLiteral("w"));
                QFile file(work.toLocalFile());
                file.open(QIODevice::WriteOnly);
                file.write("result " + QByteArray::number(i));
                file.close();
                results[i] = planner.deliver(work, planner.outputBaseName(
                                                       QStringLiteral("compressed")),
                                             QStringLiteral("jpg")).toLocalFile();
                planner.removeWorkDirectory();
            } catch (const std::exception& e) {
                failures[i] = e.what();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    QSet<QString> names;
    QSet<QByteArray> contents;
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(failures[i], "");
        names.insert(results[i]);
        contents.insert(readFile(results[i]));
    }
    EXPECT_EQ(names.size(), count);
    EXPECT_EQ(contents.size(), count);
    for (int i = 0; i < count; ++i)
        EXPECT_TRUE(contents.contains("result " + QByteArray::number(i)));
    EXPECT_EQ(readFile(taken), "already there");
    EXPECT_EQ(readFile(sourcePath()), "original photo");
    EXPECT_EQ(entries(sourceFolder()).size(), count + 2);
    EXPECT_TRUE(entries(TemporaryRoot::path()).isEmpty());
}

TEST_F(OutputPlannerTest, RefusedDestinationSendsTheResultToTheFallbackFolder)
{
    const auto notes = std::make_shared<JobNotes>();
    const RefusingProbe probe(sourceFolder());
    OutputPlanner planner(source(), m_settings, notes, probe, m_clock);
    EXPECT_EQ(planner.destinationFolder(), QUrl::fromLocalFile(fallbackFolder()));
    const QUrl result = produce(planner, "data");
    EXPECT_EQ(result.toLocalFile(), fallbackFolder() + QStringLiteral("/photo (compressed).jpg"));
    EXPECT_EQ(notes->messages(),
              QStringList{QStringLiteral("Saved to Downloads: no permission to write in Pictures")});
    EXPECT_EQ(entries(sourceFolder()), QStringList{QStringLiteral("photo.jpg")});

    // When the refused folder is the fallback itself there is nowhere else to go and nothing
    // to announce.
    m_settings.fallbackFolder = QUrl::fromLocalFile(sourceFolder() + QLatin1Char('/'));
    OutputPlanner same(source(), m_settings, notes, probe, m_clock);
    EXPECT_EQ(same.destinationFolder(), QUrl::fromLocalFile(sourceFolder()));
    EXPECT_EQ(QFileInfo(produce(same, "x").toLocalFile()).absolutePath(), sourceFolder());
    EXPECT_EQ(notes->messages().size(), 1);
}

TEST_F(OutputPlannerTest, RealPermissionErrorLeadsToTheFallbackFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write everywhere";
    const auto notes = std::make_shared<JobNotes>();
    const QString chosen = m_dir.filePath(QStringLiteral("Locked"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    ASSERT_EQ(::chmod(QFile::encodeName(chosen).constData(), 0500), 0);
    m_settings.saveLocation = SaveLocation::folder;
    m_settings.outputFolder = QUrl::fromLocalFile(chosen);
    OutputPlanner planner(source(), m_settings, notes, WriteAccessProbe::system(), m_clock);
    const QUrl result = produce(planner, "data");
    EXPECT_EQ(QFileInfo(result.toLocalFile()).absolutePath(), fallbackFolder());
    EXPECT_EQ(notes->messages(),
              QStringList{QStringLiteral("Saved to Downloads: no permission to write in Locked")});
    ::chmod(QFile::encodeName(chosen).constData(), 0700);
}

TEST_F(OutputPlannerTest, MissingOutputFolderIsReportedAndNotCreated)
{
    const QString chosen = m_dir.filePath(QStringLiteral("Gone"));
    m_settings.saveLocation = SaveLocation::folder;
    m_settings.outputFolder = QUrl::fromLocalFile(chosen);
    try {
        OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
        FAIL() << "a planner was made";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("The output folder isn't available"));
    }

    // The folder vanishes while the item runs.
    ASSERT_TRUE(QDir().mkpath(chosen));
    OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    const QUrl work = planner.workURL(QStringLiteral("jpg"), QStringLiteral("w"));
    writeFile(work.toLocalFile(), "data");
    ASSERT_TRUE(QDir(chosen).removeRecursively());
    try {
        planner.deliver(work, planner.outputBaseName(), QStringLiteral("jpg"));
        FAIL() << "delivered";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("The output folder isn't available"));
    }
    EXPECT_FALSE(QFileInfo::exists(chosen));
    EXPECT_FALSE(QFileInfo::exists(fallbackFolder()));
    EXPECT_EQ(readFile(sourcePath()), "original photo");
}

TEST_F(OutputPlannerTest, TemporarySourceGoesToTheFallbackOrTheChosenFolder)
{
    const QUrl promises = OutputPlanner::makeTemporaryDirectory(QStringLiteral("promises"));
    EXPECT_TRUE(QFileInfo(promises.toLocalFile()).fileName().startsWith(QStringLiteral("promises-")));
    const QString received = promises.toLocalFile() + QStringLiteral("/photo.jpg");
    writeFile(received, "promised");
    FileAttributes::setTags(received, {QStringLiteral("Red")});

    OutputPlanner planner(QUrl::fromLocalFile(received), m_settings, nullptr,
                          WriteAccessProbe::system(), m_clock);
    EXPECT_TRUE(planner.sourceIsTemporary());
    const QUrl result = produce(planner, "data", QString());
    EXPECT_EQ(result.toLocalFile(), fallbackFolder() + QStringLiteral("/photo.jpg"));
    EXPECT_TRUE(FileAttributes::tags(result.toLocalFile()).isEmpty());
    EXPECT_EQ(FileAttributes::dates(result.toLocalFile())->modified, m_clock.now());

    const QString chosen = m_dir.filePath(QStringLiteral("Chosen"));
    ASSERT_TRUE(QDir().mkpath(chosen));
    m_settings.saveLocation = SaveLocation::folder;
    m_settings.outputFolder = QUrl::fromLocalFile(chosen);
    OutputPlanner toChosen(QUrl::fromLocalFile(received), m_settings, nullptr,
                           WriteAccessProbe::system(), m_clock);
    EXPECT_EQ(toChosen.destinationFolder(), QUrl::fromLocalFile(chosen));

    // The promise folder is live until its job lets it go.
    test::FakeClock later;
    later.set(QDateTime::currentDateTimeUtc().addYears(1));
    purgeTemporaryItems(0, later);
    EXPECT_TRUE(QFileInfo::exists(received));
    OutputPlanner::removeTemporaryDirectory(promises);
    EXPECT_FALSE(QFileInfo::exists(promises.toLocalFile()));
}

TEST_F(OutputPlannerTest, ResultsKeepTagsAndOptionallyDates)
{
    const bool tagged = FileAttributes::setTags(sourcePath(), {QStringLiteral("Work"),
                                                               QStringLiteral("Blue")});
    const QDateTime old(QDate(2020, 5, 1), QTime(8, 30), Qt::UTC);
    ASSERT_TRUE(FileAttributes::setDates(sourcePath(), {old, old}));

    OutputPlanner plain(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    const QUrl first = produce(plain, "a");
    EXPECT_EQ(FileAttributes::dates(first.toLocalFile())->modified, m_clock.now());
    if (tagged) {
        EXPECT_EQ(FileAttributes::tags(first.toLocalFile()),
                  (QStringList{QStringLiteral("Work"), QStringLiteral("Blue")}));
    }

    m_settings.preserveDates = true;
    OutputPlanner keeping(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    const QUrl second = produce(keeping, "b");
    EXPECT_EQ(FileAttributes::dates(second.toLocalFile())->modified, old);
}

TEST_F(OutputPlannerTest, ResultsArriveCompleteAndAreNotTouchedOnceThere)
{
    const bool tagged = FileAttributes::setTags(sourcePath(), {QStringLiteral("Work")});
    const QDateTime old(QDate(2021, 3, 4), QTime(5, 6), Qt::UTC);
    ASSERT_TRUE(FileAttributes::setDates(sourcePath(), {old, old}));
    m_settings.preserveDates = true;
    OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);

    // The result's name only ever sees it arrive: nothing is set on a path that others can
    // see, and so nothing on what another program might have put there since.
    FolderWatch watch(sourceFolder());
    ASSERT_TRUE(watch.isValid());
    const QUrl file = produce(planner, "file");
    EXPECT_EQ(watch.eventsOf(QFileInfo(file.toLocalFile()).fileName()),
              QList<uint32_t>{IN_MOVED_TO});
    EXPECT_EQ(FileAttributes::dates(file.toLocalFile())->modified, old);
    if (tagged) {
        EXPECT_EQ(FileAttributes::tags(file.toLocalFile()), QStringList{QStringLiteral("Work")});
    }

    const QUrl folder = planner.makeWorkSubdirectory(QStringLiteral("out"));
    writeFile(folder.toLocalFile() + QStringLiteral("/inner.txt"), "inner");
    const QUrl placed = planner.deliver(folder, QStringLiteral("album"), QString());
    EXPECT_EQ(watch.eventsOf(QStringLiteral("album")), QList<uint32_t>{IN_MOVED_TO});
    EXPECT_EQ(FileAttributes::dates(placed.toLocalFile())->modified, old);
}

TEST_F(OutputPlannerTest, NoWorkFolderOutlivesItsItem)
{
    QString path;
    {
        OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
        path = planner.workDirectory().toLocalFile();
        EXPECT_TRUE(QFileInfo(path).isDir());
        writeFile(planner.workURL(QStringLiteral("tmp"), QStringLiteral("left")).toLocalFile(),
                  "x");
        planner.makeWorkSubdirectory(QStringLiteral("a/b"));
        produce(planner, "result");
        const OutputPlanner copy = planner;
        copy.removeWorkDirectory();
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    {
        // An item that throws before cleaning up still leaves nothing behind.
        OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
        path = planner.workDirectory().toLocalFile();
    }
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(entries(TemporaryRoot::path()).isEmpty());
    EXPECT_EQ(entries(sourceFolder()),
              (QStringList{QStringLiteral("photo (compressed).jpg"), QStringLiteral("photo.jpg")}));
}

TEST_F(OutputPlannerTest, PlacementAcrossFilesystemsAndWhenEveryNameIsTaken)
{
    // Ten thousand files are made much faster in memory, where there is a memory filesystem.
    QTemporaryDir memory(QStringLiteral("/dev/shm/qv-place-XXXXXX"));
    const QString folder = (memory.isValid() ? memory.path() : m_dir.path())
        + QStringLiteral("/Full");
    ASSERT_TRUE(QDir().mkpath(folder));
    writeFile(folder + QStringLiteral("/n.txt"), "first");
    for (int k = 2; k <= OutputPlanner::maximumCandidates; ++k) {
        const QByteArray name = QFile::encodeName(folder + QStringLiteral("/n %1.txt").arg(k));
        ::close(::open(name.constData(), O_WRONLY | O_CREAT, 0600));
    }
    const QString given = QFileInfo(folder).absolutePath() + QStringLiteral("/given.txt");
    writeFile(given, "given");
    try {
        placeResult(QUrl::fromLocalFile(given), QUrl::fromLocalFile(folder), QStringLiteral("n"),
                    QStringLiteral("txt"));
        FAIL() << "placed";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), EEXIST);
    }
    EXPECT_EQ(readFile(given), "given");
    EXPECT_EQ(readFile(folder + QStringLiteral("/n.txt")), "first");
    EXPECT_EQ(entries(folder).size(), OutputPlanner::maximumCandidates);

    struct stat a {}, b {};
    ::stat(QFile::encodeName(memory.path()).constData(), &a);
    ::stat(QFile::encodeName(m_dir.path()).constData(), &b);
    if (!memory.isValid() || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second filesystem";
    const QString away = memory.filePath(QStringLiteral("away"));
    ASSERT_TRUE(QDir().mkpath(away + QStringLiteral("/sub")));
    writeFile(away + QStringLiteral("/sub/f"), "deep");
    const QString target = m_dir.filePath(QStringLiteral("Target"));
    ASSERT_TRUE(QDir().mkpath(target));
    // The copy is prepared, not the name it takes.
    const QDateTime old(QDate(2019, 1, 2), QTime(3, 4), Qt::UTC);
    QStringList prepared;
    FolderWatch watch(target);
    ASSERT_TRUE(watch.isValid());
    const QUrl placed = placeResult(QUrl::fromLocalFile(away), QUrl::fromLocalFile(target),
                                    QStringLiteral("away"), QString(),
                                    [&](const QString& item) {
                                        prepared.append(item);
                                        FileAttributes::setDates(item, {old, old});
                                    });
    EXPECT_EQ(placed.toLocalFile(), target + QStringLiteral("/away"));
    ASSERT_EQ(prepared.size(), 2);
    EXPECT_EQ(prepared.first(), away);
    EXPECT_EQ(QFileInfo(prepared.last()).absolutePath(), target);
    EXPECT_EQ(FileAttributes::dates(placed.toLocalFile())->modified, old);
    EXPECT_EQ(watch.eventsOf(QStringLiteral("away")), QList<uint32_t>{IN_MOVED_TO});
    EXPECT_EQ(readFile(target + QStringLiteral("/away/sub/f")), "deep");
    EXPECT_FALSE(QFileInfo::exists(away));
    EXPECT_EQ(entries(target), QStringList{QStringLiteral("away")}); // no hidden copy left

    writeFile(away, "second");
    const QUrl again = placeResult(QUrl::fromLocalFile(away), QUrl::fromLocalFile(target),
                                   QStringLiteral("away"), QString());
    EXPECT_EQ(again.toLocalFile(), target + QStringLiteral("/away 2"));
    EXPECT_EQ(entries(target), (QStringList{QStringLiteral("away"), QStringLiteral("away 2")}));
}

TEST_F(OutputPlannerTest, AResultCopiedAcrossFilesystemsIsWholeOrNotThere)
{
    // An extracted archive as a result: dates from the archive, a read-only folder, a link.
    const QString result = m_dir.filePath(QStringLiteral("work/Album"));
    writeFile(result + QStringLiteral("/2019/a.jpg"), QByteArray(400 * 1024, 'a'));
    writeFile(result + QStringLiteral("/2019/b.jpg"), QByteArray(400 * 1024, 'b'));
    writeFile(result + QStringLiteral("/notes.txt"), "notes");
    ::chmod(QFile::encodeName(result + QStringLiteral("/notes.txt")).constData(), 0640);
    ASSERT_EQ(::symlink("2019/a.jpg", QFile::encodeName(result + QStringLiteral("/cover.jpg")).constData()), 0);
    const QDateTime old(QDate(2019, 6, 1), QTime(12, 0), Qt::UTC);
    for (const QString& name : {QStringLiteral("/2019/a.jpg"), QStringLiteral("/2019/b.jpg"),
                                QStringLiteral("/notes.txt"), QStringLiteral("/2019")})
        FileAttributes::setDates(result + name, {old, old});
    ::chmod(QFile::encodeName(result + QStringLiteral("/2019")).constData(), 0555);
    const QMap<QByteArray, QByteArray> before = test::treeDescription(result);

    test::SmallDisk small(512 * 1024);
    if (!small.isMounted())
        GTEST_SKIP() << "mounting a small disk needs root";
    try {
        placeResult(QUrl::fromLocalFile(result), QUrl::fromLocalFile(small.path()),
                    QStringLiteral("Album"), QString());
        FAIL() << "placed on a disk too small for it";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOSPC);
    }
    EXPECT_EQ(test::treeDescription(result), before);
    EXPECT_TRUE(test::folderEntries(small.path()).isEmpty()) << "no part of the copy is left";

    ASSERT_TRUE(small.resize(4 << 20));
    const QUrl placed = placeResult(QUrl::fromLocalFile(result), QUrl::fromLocalFile(small.path()),
                                    QStringLiteral("Album"), QString());
    EXPECT_EQ(placed.toLocalFile(), small.filePath(QStringLiteral("Album")));
    EXPECT_EQ(test::treeDescription(placed.toLocalFile()), before);
    EXPECT_FALSE(QFileInfo::exists(result));
    EXPECT_EQ(test::folderEntries(small.path()), QStringList{QStringLiteral("Album")});
}

// A FAT stick refuses "?" in a name: the result takes "_" there instead of failing the item.
TEST_F(OutputPlannerTest, ANameTheStickRefusesIsPlacedInCharactersItTakes)
{
    const test::FatStick fat;
    if (!fat.isMounted())
        GTEST_SKIP() << qPrintable(fat.whyNot());
    const QString stick = fat.path();
    const QString given = m_dir.filePath(QStringLiteral("result"));
    writeFile(given, "answer");
    const QUrl placed = placeResult(QUrl::fromLocalFile(given), QUrl::fromLocalFile(stick),
                                    QStringLiteral("what? why*"), QStringLiteral("txt"));
    EXPECT_EQ(placed.fileName(), QStringLiteral("what_ why_.txt"));
    EXPECT_EQ(readFile(placed.toLocalFile()), "answer");
    EXPECT_FALSE(QFileInfo::exists(given));

    // The same through the stick's descriptor, for a result held open.
    writeFile(given, "held answer");
    const int work = ::open(QFile::encodeName(m_dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int file = ::open(QFile::encodeName(given).constData(), O_RDONLY | O_CLOEXEC);
    const int folder = ::open(QFile::encodeName(stick).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_TRUE(work >= 0 && file >= 0 && folder >= 0);
    const HeldResult held{work, "result", file, false, std::nullopt, true};
    const QUrl heldPlaced = placeHeldResult(held, QUrl::fromLocalFile(stick), folder, QStringLiteral("what? why*"),
                                            QStringLiteral("txt"), {}, {});
    ::close(folder);
    ::close(file);
    ::close(work);
    EXPECT_EQ(heldPlaced.toLocalFile(), stick + QStringLiteral("/what_ why_ 2.txt"));
    EXPECT_EQ(readFile(heldPlaced.toLocalFile()), "held answer");
}

// The destination is opened when the item starts; moved away and replaced by a link to another
// folder before its results are placed, it still takes them, and the link's target nothing.
TEST_F(OutputPlannerTest, HeldResultsGoToTheFolderHeldNotToWhatItsPathNamesNow)
{
    const QString chosen = m_dir.filePath(QStringLiteral("Out"));
    const QString moved = m_dir.filePath(QStringLiteral("Out moved"));
    const QString elsewhere = m_dir.filePath(QStringLiteral("Elsewhere"));
    const QString work = m_dir.filePath(QStringLiteral("work"));
    ASSERT_TRUE(QDir().mkpath(chosen) && QDir().mkpath(elsewhere) && QDir().mkpath(work + QStringLiteral("/tree")));
    writeFile(work + QStringLiteral("/linked"), "linked result");
    writeFile(work + QStringLiteral("/copied"), "copied result");
    writeFile(work + QStringLiteral("/tree/page 1.txt"), "page");
    m_settings.saveLocation = SaveLocation::folder;
    m_settings.outputFolder = QUrl::fromLocalFile(chosen);
    OutputPlanner planner(source(), m_settings, nullptr, WriteAccessProbe::system(), m_clock);
    const int held = ::open(QFile::encodeName(chosen).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int workFd = ::open(QFile::encodeName(work).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_TRUE(held >= 0 && workFd >= 0);
    planner.holdDestination(held);
    ASSERT_TRUE(QDir().rename(chosen, moved));
    ASSERT_TRUE(QFile::link(elsewhere, chosen));

    struct Case {
        const char* name;
        bool isFolder;
        bool makerGone; // a file is linked where nothing of its maker is left, else copied
        QString extension;
    };
    for (const Case& c : {Case{"linked", false, true, QStringLiteral("txt")}, Case{"copied", false, false, QStringLiteral("txt")},
                          Case{"tree", true, true, QString()}}) {
        const int item = ::openat(workFd, c.name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (c.isFolder ? O_DIRECTORY : 0));
        ASSERT_GE(item, 0) << c.name;
        const HeldResult result{workFd, c.name, item, c.isFolder, ::geteuid(), c.makerGone};
        const QUrl placed = planner.deliverHeld(result, QString::fromUtf8(c.name), c.extension);
        ::close(item);
        EXPECT_EQ(placed.toLocalFile(), moved + QLatin1Char('/') + OutputPlanner::candidateName(QString::fromUtf8(c.name), c.extension, 1))
            << c.name;
    }
    ::close(workFd);
    ::close(held);
    EXPECT_EQ(readFile(moved + QStringLiteral("/linked.txt")), "linked result");
    EXPECT_EQ(readFile(moved + QStringLiteral("/copied.txt")), "copied result");
    EXPECT_EQ(readFile(moved + QStringLiteral("/tree/page 1.txt")), "page");
    EXPECT_EQ(entries(moved), (QStringList{QStringLiteral("copied.txt"), QStringLiteral("linked.txt"), QStringLiteral("tree")}));
    EXPECT_TRUE(entries(elsewhere).isEmpty()) << entries(elsewhere).join(u' ').toStdString();
}
