#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "model/settings/Shortcut.h"
#include "platform/settings/SettingsStore.h"
#include "support/LogCapture.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

using namespace qv;

namespace {

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void writeText(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The keys of the changed signals a store sends while it lives.
QStringList& recordChanges(SettingsStore& store)
{
    auto* keys = new QStringList;
    QObject::connect(&store, &SettingsStore::changed, &store,
                     [keys](const QString& key) { keys->append(key); });
    QObject::connect(&store, &QObject::destroyed, [keys] { delete keys; });
    return *keys;
}

bool warned(const test::LogCapture& log, const QString& part)
{
    for (const test::LogCapture::Line& line : log.lines()) {
        if (line.type == QtWarningMsg && line.message.contains(part))
            return true;
    }
    return false;
}

// What a busy user's file may hold: some 300 KB of recent results.
QStringList manyRecentResults()
{
    QStringList paths;
    for (int i = 0; i < 4500; ++i)
        paths.append(QStringLiteral("/home/someone/Pictures/2024 holiday/IMG_%1 (converted).jpg")
                         .arg(i, 5, 10, QLatin1Char('0')));
    return paths;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

TEST(SettingsStore, LayersAndTypedReads)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/quorvenda/settings.json"));
    SettingsStore store(path);
    store.registerDefaults({{QStringLiteral("a.flag"), true},
                            {QStringLiteral("a.count"), 7},
                            {QStringLiteral("a.name"), QStringLiteral("shift")}});

    EXPECT_TRUE(store.boolValue(QStringLiteral("a.flag")));
    EXPECT_EQ(store.intValue(QStringLiteral("a.count")), 7);
    EXPECT_EQ(store.stringValue(QStringLiteral("a.name")), QStringLiteral("shift"));
    EXPECT_FALSE(store.hasStoredValue(QStringLiteral("a.flag")));

    // Neither stored nor registered: the empty value of each type.
    EXPECT_FALSE(store.boolValue(QStringLiteral("none")));
    EXPECT_EQ(store.intValue(QStringLiteral("none")), 0);
    EXPECT_EQ(store.doubleValue(QStringLiteral("none")), 0.0);
    EXPECT_FALSE(store.stringValue(QStringLiteral("none")));
    EXPECT_FALSE(store.dataValue(QStringLiteral("none")));
    EXPECT_FALSE(store.dictionaryValue(QStringLiteral("none")));

    // A stored value hides the registered one until it is removed.
    store.setValue(QStringLiteral("a.count"), 3);
    EXPECT_EQ(store.intValue(QStringLiteral("a.count")), 3);
    store.remove(QStringLiteral("a.count"));
    EXPECT_EQ(store.intValue(QStringLiteral("a.count")), 7);

    // Coercions between numbers, text and Booleans.
    store.setValue(QStringLiteral("b.text"), QStringLiteral(" 12.75 "));
    EXPECT_EQ(store.intValue(QStringLiteral("b.text")), 12);
    EXPECT_DOUBLE_EQ(store.doubleValue(QStringLiteral("b.text")), 12.75);
    EXPECT_TRUE(store.boolValue(QStringLiteral("b.text")));
    store.setValue(QStringLiteral("b.yes"), QStringLiteral("YES"));
    EXPECT_TRUE(store.boolValue(QStringLiteral("b.yes")));
    store.setValue(QStringLiteral("b.word"), QStringLiteral("hello"));
    EXPECT_FALSE(store.boolValue(QStringLiteral("b.word")));
    EXPECT_EQ(store.intValue(QStringLiteral("b.word")), 0);
    store.setValue(QStringLiteral("b.double"), 0.85);
    EXPECT_EQ(store.stringValue(QStringLiteral("b.double")), QStringLiteral("0.85"));
    EXPECT_EQ(store.intValue(QStringLiteral("b.double")), 0);
    store.setValue(QStringLiteral("b.huge"), 1e30);
    EXPECT_EQ(store.intValue(QStringLiteral("b.huge")), std::numeric_limits<int>::max());
    store.setValue(QStringLiteral("b.bool"), true);
    EXPECT_EQ(store.intValue(QStringLiteral("b.bool")), 1);
    EXPECT_FALSE(store.dictionaryValue(QStringLiteral("b.text")));
    EXPECT_FALSE(store.dataValue(QStringLiteral("b.text")));

    EXPECT_EQ(store.allKeys(),
              (QStringList{QStringLiteral("a.count"), QStringLiteral("a.flag"),
                           QStringLiteral("a.name"), QStringLiteral("b.bool"),
                           QStringLiteral("b.double"), QStringLiteral("b.huge"),
                           QStringLiteral("b.text"), QStringLiteral("b.word"),
                           QStringLiteral("b.yes")}));
}

TEST(SettingsStore, FileHoldsOnlyStoredValuesAndRoundTrips)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("quorvenda/settings.json"));
    const QByteArray data("\x00\x01\xFF" "binary", 9);
    {
        SettingsStore store(path);
        store.registerDefaults({{QStringLiteral("k.registered"), 1}});
        EXPECT_FALSE(QFile::exists(path)) << "registering or reading must not write";

        store.setValue(QStringLiteral("k.bool"), true);
        store.setValue(QStringLiteral("k.int"), 42);
        store.setValue(QStringLiteral("k.double"), 0.5);
        store.setValue(QStringLiteral("k.text"), QStringLiteral("Grüße"));
        store.setValue(QStringLiteral("k.list"), QStringList{QStringLiteral("x"), QStringLiteral("y")});
        store.setValue(QStringLiteral("k.dict"),
                       QVariantMap{{QStringLiteral("compress"), QStringLiteral("small")},
                                   {QStringLiteral("blob"), QByteArray("ab")}});
        store.setData(QStringLiteral("k.data"), data);
        ASSERT_TRUE(store.flush());
    }
    const QJsonObject json = readJson(path);
    EXPECT_FALSE(json.contains(QStringLiteral("k.registered")));
    EXPECT_EQ(json.value(QStringLiteral("k.data")).toObject(),
              (QJsonObject{{QStringLiteral("$data"), QString::fromLatin1(data.toBase64())}}));

    SettingsStore again(path);
    EXPECT_TRUE(again.boolValue(QStringLiteral("k.bool")));
    EXPECT_EQ(again.intValue(QStringLiteral("k.int")), 42);
    EXPECT_DOUBLE_EQ(again.doubleValue(QStringLiteral("k.double")), 0.5);
    EXPECT_EQ(again.stringValue(QStringLiteral("k.text")), QStringLiteral("Grüße"));
    EXPECT_EQ(again.stringListValue(QStringLiteral("k.list")),
              (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_EQ(again.dataValue(QStringLiteral("k.data")), data);
    const auto dict = again.dictionaryValue(QStringLiteral("k.dict"));
    ASSERT_TRUE(dict);
    EXPECT_EQ(dict->value(QStringLiteral("blob")).toByteArray(), QByteArray("ab"));
    EXPECT_FALSE(again.hasStoredValue(QStringLiteral("k.registered")));
}

TEST(SettingsStore, WritesAreDebouncedAndSignalled)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    SettingsStore store(path);
    const QStringList& changes = recordChanges(store);
    store.setValue(QStringLiteral("k"), 1);
    store.setValue(QStringLiteral("k"), 1); // unchanged: no second signal
    store.remove(QStringLiteral("missing"));
    EXPECT_EQ(changes, QStringList{QStringLiteral("k")});
    EXPECT_FALSE(QFile::exists(path));
    // Saved by the timer without an explicit flush (generous bound).
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(path); }, 5000));
    EXPECT_EQ(readJson(path).value(QStringLiteral("k")).toInt(), 1);
}

TEST(SettingsStore, SaveSoonWritesWithoutWaitingForTheTimer)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    SettingsStore store(path);
    store.setValue(QStringLiteral("k"), 1);
    store.saveSoon();
    // No event is processed here, so the save timer cannot fire: only the saving thread writes.
    for (int i = 0; i < 500 && !QFile::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(readJson(path).value(QStringLiteral("k")).toInt(), 1);
    // A flush after it finds nothing left and waits for nothing that failed.
    EXPECT_TRUE(store.flush());
}

TEST(SettingsStore, LastWritesGoWithTheStore)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    {
        SettingsStore store(path);
        store.setValue(QStringLiteral("k"), 1);
        ASSERT_TRUE(test::waitFor([&] { return QFile::exists(path); }));
        // Due for a save in the background when the store goes: saved on the way out.
        store.setValue(QStringLiteral("k"), 2);
        store.setValue(QStringLiteral("j"), 3);
    }
    EXPECT_EQ(readJson(path), (QJsonObject{{QStringLiteral("j"), 3}, {QStringLiteral("k"), 2}}));
}

TEST(SettingsStore, TwoStoresOnOneFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    SettingsStore first(path);
    SettingsStore second(path);

    first.setValue(QStringLiteral("from.first"), QStringLiteral("one"));
    second.setValue(QStringLiteral("from.second"), QStringLiteral("two"));
    ASSERT_TRUE(first.flush());
    ASSERT_TRUE(second.flush());

    // The second save merged onto the first one's file instead of replacing it.
    const QJsonObject json = readJson(path);
    EXPECT_EQ(json.value(QStringLiteral("from.first")).toString(), QStringLiteral("one"));
    EXPECT_EQ(json.value(QStringLiteral("from.second")).toString(), QStringLiteral("two"));
    EXPECT_EQ(second.stringValue(QStringLiteral("from.first")), QStringLiteral("one"));

    const QStringList& changes = recordChanges(first);
    first.reload();
    EXPECT_EQ(first.stringValue(QStringLiteral("from.second")), QStringLiteral("two"));
    EXPECT_EQ(changes, QStringList{QStringLiteral("from.second")});

    // A removal travels too, and a fresh instance reads the merged result.
    second.remove(QStringLiteral("from.first"));
    ASSERT_TRUE(second.flush());
    SettingsStore third(path);
    EXPECT_FALSE(third.hasStoredValue(QStringLiteral("from.first")));
    EXPECT_EQ(third.stringValue(QStringLiteral("from.second")), QStringLiteral("two"));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".lock")));
}

TEST(SettingsStore, ASaveOfWhatTheFileSaysAlreadyLeavesItInPlace)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    const auto inode = [&path] {
        struct stat status {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : ino_t(0);
    };
    SettingsStore store(path);
    store.setValue(QStringLiteral("k"), 1);
    ASSERT_TRUE(store.flush());
    const ino_t first = inode();
    ASSERT_NE(first, ino_t(0));

    // The same value again, from this store and from another one on the file.
    store.setValue(QStringLiteral("k"), 1);
    ASSERT_TRUE(store.flush());
    SettingsStore other(path);
    other.setValue(QStringLiteral("k"), 1);
    ASSERT_TRUE(other.flush());
    EXPECT_EQ(inode(), first);

    // A change is written, and so is a file that holds the same values written otherwise.
    store.setValue(QStringLiteral("k"), 2);
    ASSERT_TRUE(store.flush());
    EXPECT_NE(inode(), first);
    EXPECT_EQ(readJson(path), (QJsonObject{{QStringLiteral("k"), 2}}));
    writeText(path, "{\"k\": 2}");
    const ino_t handWritten = inode();
    store.setValue(QStringLiteral("k"), 2);
    ASSERT_TRUE(store.flush());
    EXPECT_NE(inode(), handWritten);
    EXPECT_EQ(readJson(path), (QJsonObject{{QStringLiteral("k"), 2}}));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".lock")));
}

TEST(SettingsStore, DamagedFileReadsEmptyAndIsKeptOnWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    const QByteArray damaged("{\"quorvenda.sounds\": tru");
    writeText(path, damaged);
    {
        SettingsStore store(path);
        EXPECT_TRUE(store.allKeys().isEmpty());
        store.registerDefaults({{QStringLiteral("quorvenda.sounds"), true}});
        EXPECT_TRUE(store.boolValue(QStringLiteral("quorvenda.sounds")));
        store.reload();
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), damaged) << "a damaged file is not replaced until a write";
    file.close();
    // It was kept aside at once, and the user is told where; a later start finds the same copy.
    EXPECT_EQ(test::readFile(path + QStringLiteral(".damaged")), damaged);
    {
        SettingsStore again(path);
        EXPECT_TRUE(again.startedFromDamagedFile());
        EXPECT_EQ(again.damagedCopyPath(), path + QStringLiteral(".damaged"));
        EXPECT_TRUE(again.damagedFileMessage().contains(path + QStringLiteral(".damaged")));
        EXPECT_FALSE(QFile::exists(path + QStringLiteral(".damaged-2")));
    }
    ASSERT_TRUE(QFile::remove(path + QStringLiteral(".damaged")));

    // A top-level array is not a settings file either.
    writeText(path, "[1, 2]");
    SettingsStore store(path);
    EXPECT_TRUE(store.allKeys().isEmpty());
    store.setValue(QStringLiteral("k"), 1);
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(readJson(path).value(QStringLiteral("k")).toInt(), 1);
    EXPECT_TRUE(SettingsStore(path).damagedFileMessage().isEmpty()) << "a sound file says nothing";
    QFile kept(path + QStringLiteral(".damaged"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("[1, 2]"));

    // A value that only looks like data stays a dictionary.
    writeText(path, R"({"k": {"$data": "not base64!"}, "n": null})");
    SettingsStore odd(path);
    EXPECT_FALSE(odd.dataValue(QStringLiteral("k")));
    EXPECT_TRUE(odd.dictionaryValue(QStringLiteral("k")));
    EXPECT_FALSE(odd.hasStoredValue(QStringLiteral("n")));
}

TEST(SettingsStore, UnwritableFileKeepsPendingWrites)
{
    QTemporaryDir dir;
    // The folder the file should live in is a file: nothing can be saved there.
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    writeText(blocker, "x");
    SettingsStore store(blocker + QStringLiteral("/settings.json"));
    store.setValue(QStringLiteral("k"), 5);
    EXPECT_FALSE(store.flush());
    EXPECT_EQ(store.intValue(QStringLiteral("k")), 5);

    SettingsStore memory{QString()};
    memory.setValue(QStringLiteral("k"), 5);
    EXPECT_TRUE(memory.flush());
    EXPECT_EQ(memory.intValue(QStringLiteral("k")), 5);
}

TEST(SettingsStore, DefaultFileFollowsXdgConfigHome)
{
    QTemporaryDir dir;
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    const QString path = SettingsStore::defaultFilePath();
    if (before.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", before);
    EXPECT_EQ(path, dir.path() + QStringLiteral("/quorvenda/settings.json"));
}

TEST(SettingsStore, FullDiskKeepsTheOldFileByteForByte)
{
    test::SmallDisk disk(420 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString path = disk.filePath(QStringLiteral("settings.json"));
    QStringList recent = manyRecentResults();
    {
        SettingsStore store(path);
        store.setValue(QStringLiteral("recent"), recent);
        ASSERT_TRUE(store.flush());
    }
    const QByteArray before = test::readFile(path);
    ASSERT_GT(before.size(), 280 * 1024);
    ASSERT_LT(disk.freeBytes(), before.size()) << "the disk must not hold a second copy";

    test::LogCapture log;
    SettingsStore store(path);
    // A job recording its result: saved by the timer, not by an explicit flush.
    recent.prepend(QStringLiteral("/home/someone/new.png"));
    store.setValue(QStringLiteral("recent"), recent);
    ASSERT_TRUE(test::waitFor([&] { return warned(log, QStringLiteral("Settings not saved")); }));
    EXPECT_EQ(test::readFile(path), before);
    EXPECT_EQ(store.stringListValue(QStringLiteral("recent")), recent) << "kept in memory";

    // An explicit save reports the failure too, and leaves nothing half written behind.
    EXPECT_FALSE(store.flush());
    EXPECT_EQ(test::readFile(path), before);
    EXPECT_EQ(filesIn(disk.path()), QStringList{QStringLiteral("settings.json")});

    // With room again, the next change saves everything still pending.
    ASSERT_TRUE(disk.resize(2 * 1024 * 1024));
    store.setValue(QStringLiteral("other"), 1);
    ASSERT_TRUE(store.flush());
    SettingsStore again(path);
    EXPECT_EQ(again.stringListValue(QStringLiteral("recent")), recent);
    EXPECT_EQ(again.intValue(QStringLiteral("other")), 1);
}

TEST(SettingsStore, DamagedFileThatCannotBeKeptIsNotReplaced)
{
    test::SmallDisk disk(320 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString path = disk.filePath(QStringLiteral("settings.json"));
    // Too big to copy aside on this disk, while the new file would fit.
    const QByteArray damaged = "{\"notes\": \"" + QByteArray(200 * 1024, 'n');
    test::writeFile(path, damaged);
    ASSERT_LT(disk.freeBytes(), damaged.size());

    test::LogCapture log;
    SettingsStore store(path);
    store.setValue(QStringLiteral("k"), 1);
    EXPECT_FALSE(store.flush());
    EXPECT_EQ(test::readFile(path), damaged);
    EXPECT_EQ(filesIn(disk.path()), QStringList{QStringLiteral("settings.json")});
    EXPECT_TRUE(warned(log, QStringLiteral("cannot be kept aside")));
    EXPECT_TRUE(store.startedFromDamagedFile());
    EXPECT_TRUE(store.damagedCopyPath().isEmpty());
    EXPECT_TRUE(store.damagedFileMessage().contains(QStringLiteral("could not be kept aside")));
    EXPECT_EQ(store.intValue(QStringLiteral("k")), 1);

    ASSERT_TRUE(disk.resize(2 * 1024 * 1024));
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(test::readFile(path + QStringLiteral(".damaged")), damaged);
    EXPECT_EQ(readJson(path).value(QStringLiteral("k")).toInt(), 1);
}

TEST(SettingsStore, LockHeldElsewhereIsRetriedAndToldFromNoPermission)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    {
        // Another process saving: this store waits for it on its own, without a new change.
        QLockFile other(path + QStringLiteral(".lock"));
        ASSERT_TRUE(other.tryLock(0));
        test::LogCapture log;
        SettingsStore store(path);
        store.setValue(QStringLiteral("k"), 1);
        ASSERT_TRUE(test::waitFor(
            [&] { return warned(log, QStringLiteral("locked by another process")); }));
        EXPECT_FALSE(QFile::exists(path));
        // A write made meanwhile is newer than the one that waits.
        store.setValue(QStringLiteral("k"), 2);
        store.setValue(QStringLiteral("j"), 3);
        other.unlock();
        ASSERT_TRUE(test::waitFor([&] { return QFile::exists(path); }));
        EXPECT_EQ(readJson(path),
                  (QJsonObject{{QStringLiteral("j"), 3}, {QStringLiteral("k"), 2}}));
        EXPECT_FALSE(warned(log, QStringLiteral("permission")));
    }

    test::SmallDisk disk(1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString readOnlyPath = disk.filePath(QStringLiteral("settings.json"));
    test::writeFile(readOnlyPath, R"({"k": 1})");
    ASSERT_TRUE(disk.setReadOnly(true));
    test::LogCapture log;
    SettingsStore store(readOnlyPath);
    store.setValue(QStringLiteral("k"), 2);
    EXPECT_FALSE(store.flush());
    EXPECT_TRUE(warned(log, QStringLiteral("no permission")));
    EXPECT_FALSE(warned(log, QStringLiteral("locked by another process")));
    EXPECT_EQ(test::readFile(readOnlyPath), QByteArray(R"({"k": 1})"));
    EXPECT_EQ(store.intValue(QStringLiteral("k")), 2);
}

TEST(SettingsStore, AFileFromAnEarlierVersionStillReads)
{
    // Keys, stored field names and ids keep the words the first versions wrote.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    writeText(path, R"({
  "quorvenda.finderHotkey" : {"$data":"eyJjYXJib25Nb2RpZmllcnMiOjQzNTIsImtleUNvZGUiOjB9"},
  "quorvenda.wheel.actions.image" : ["action.quicklook", "action.airdrop", "action.copy"],
  "quorvenda.quality.jpeg" : 0.7
}
)");
    SettingsStore store(path);
    EXPECT_EQ(storedShortcut(store), (Shortcut{0, Shortcut::controlKey | Shortcut::superKey}));
    EXPECT_EQ(store.stringListValue(wheelOrderKey(WheelKind::actions, FileCategory::image)),
              (QStringList{"action.quicklook", "action.airdrop", "action.copy"}));
    EXPECT_DOUBLE_EQ(store.doubleValue(SettingsKey::jpegQuality), 0.7);

    // A new shortcut is written in the same form, for earlier versions to read.
    store.setData(SettingsKey::convertHotkey, encodeShortcut(Shortcut{49, Shortcut::altKey}));
    ASSERT_TRUE(store.flush());
    const QJsonObject hotkey = readJson(path).value(QStringLiteral("quorvenda.finderHotkey")).toObject();
    const QByteArray saved = QByteArray::fromBase64(hotkey.value(QStringLiteral("$data")).toString().toLatin1());
    EXPECT_EQ(saved, QByteArray(R"({"carbonModifiers":2048,"keyCode":49})"));
}
