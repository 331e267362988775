#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/Shortcut.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsTransfer.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

using namespace qv;
using namespace qv::test;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

class SettingsTransferTest : public ::testing::Test {
protected:
    SettingsTransferTest() { registerDefaultSettings(store); }

    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    SettingsStore store{QString()};
};

TEST_F(SettingsTransferTest, AFreshExportIsEveryDefaultOneMemberALineInByteOrder)
{
    store.setValue(SettingsKey::recentResults, QStringList{QStringLiteral("/tmp/a.png")});
    store.setValue(QStringLiteral("window.QuorvendaSettings"), QVariantMap{{QStringLiteral("x"), 4}});
    const SettingsTransferResult result = exportSettingsFile(store, path(QStringLiteral("out.json")));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "Exported 36 settings");

    const QByteArray bytes = readAll(path(QStringLiteral("out.json")));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << bytes.constData();
    ASSERT_TRUE(document.isObject());
    EXPECT_EQ(document.object().size(), 36);

    QList<QByteArray> lines = bytes.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 38);
    EXPECT_EQ(lines.takeFirst(), "{");
    EXPECT_EQ(lines.takeLast(), "}");
    QList<QByteArray> keys;
    for (const QByteArray& line : lines) {
        ASSERT_TRUE(line.startsWith("  \"quorvenda.")) << line.constData();
        EXPECT_FALSE(line.startsWith("  \"quorvenda.state.")) << line.constData();
        keys.append(line.mid(3, line.indexOf('"', 3) - 3));
    }
    QList<QByteArray> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(keys, sorted);
    EXPECT_EQ(document.object().value(QStringLiteral("quorvenda.quality.jpeg")).toDouble(), 0.85);
}

TEST_F(SettingsTransferTest, DataValuesTravelAsBase64AndComeBackByteForByte)
{
    const QByteArray hotkey = encodeShortcut(Shortcut{0, Shortcut::superKey | Shortcut::shiftKey});
    const QByteArray options("{\"quality\":0.5,\"outputFormat\":\"webp\",\"bytes\":\"\\u00e9\\u0000\"}");
    store.setData(SettingsKey::convertHotkey, hotkey);
    store.setData(QStringLiteral("quorvenda.options.tool.image.compress"), options);
    store.setValue(SettingsKey::suffixes, QVariantMap{{QStringLiteral("compress"), QStringLiteral("small")}});
    ASSERT_TRUE(exportSettingsFile(store, path(QStringLiteral("out.json"))).ok);
    const QByteArray bytes = readAll(path(QStringLiteral("out.json")));
    EXPECT_TRUE(bytes.contains("\"quorvenda.finderHotkey\" : {\"$data\":\"" + hotkey.toBase64() + "\"}"))
        << bytes.constData();
    EXPECT_TRUE(bytes.contains("\"quorvenda.output.suffixes\" : {\"compress\":\"small\"}"));

    SettingsStore empty{QString()};
    const SettingsTransferResult result = importSettingsFile(empty, path(QStringLiteral("out.json")));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "Imported 39 settings");
    EXPECT_EQ(empty.dataValue(SettingsKey::convertHotkey), hotkey);
    EXPECT_EQ(empty.dataValue(QStringLiteral("quorvenda.options.tool.image.compress")), options);
    EXPECT_EQ(empty.value(SettingsKey::suffixes).toMap(),
              (QVariantMap{{QStringLiteral("compress"), QStringLiteral("small")}}));
}

TEST_F(SettingsTransferTest, BadFilesChangeNothingAndSaySo)
{
    const QStringList before = store.allKeys();
    const QString array = path(QStringLiteral("array.json"));
    ASSERT_TRUE(writeAll(array, "[{\"quorvenda.sounds\": false}]"));
    SettingsTransferResult result = importSettingsFile(store, array);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "That file isn't a Quorvenda settings export");
    EXPECT_TRUE(store.boolValue(SettingsKey::sounds));

    const QString text = path(QStringLiteral("text.json"));
    ASSERT_TRUE(writeAll(text, "quorvenda.sounds = false\n"));
    result = importSettingsFile(store, text);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Couldn't import: "))) << result.message.toStdString();
    EXPECT_GT(result.message.size(), QStringLiteral("Couldn't import: ").size());

    result = importSettingsFile(store, path(QStringLiteral("missing.json")));
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Couldn't import: ")));
    EXPECT_EQ(store.allKeys(), before);
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::sounds));
}

TEST_F(SettingsTransferTest, ImportKeepsOnlyOurKeysAndStoresOddValuesAsTheyCame)
{
    store.setValue(SettingsKey::sounds, false);
    const QByteArray file = R"({
        "other.key": 1,
        "quorvenda.state.recentResults": ["/tmp/x"],
        "quorvenda.quality.jpeg": 7,
        "quorvenda.wheelSize": "enormous",
        "quorvenda.nothingWeKnow": {"a": [1, 2]},
        "quorvenda.options.bad": {"$data": "not base64!"},
        "quorvenda.options.spaced": {"$data": "QUJD RA=="},
        "quorvenda.options.good": {"$data": "QUJD"},
        "quorvenda.output.folder": null,
        "quorvenda.output.suffixes": {"trim": null}
    })";
    const SettingsTransferResult result = importSettingsBytes(store, file);
    EXPECT_EQ(result.message, "Imported 6 settings");
    EXPECT_FALSE(store.hasStoredValue(QStringLiteral("other.key")));
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::recentResults));
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::outputFolder));
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::suffixes));
    EXPECT_EQ(store.value(SettingsKey::jpegQuality).toLongLong(), 7);
    EXPECT_EQ(store.value(SettingsKey::wheelSize).toString(), "enormous");
    EXPECT_EQ(store.value(QStringLiteral("quorvenda.options.bad")).typeId(), QMetaType::QVariantMap);
    EXPECT_EQ(store.value(QStringLiteral("quorvenda.options.spaced")).typeId(), QMetaType::QVariantMap);
    EXPECT_EQ(store.dataValue(QStringLiteral("quorvenda.options.good")), QByteArray("ABC"));
    // Merged: a key the file lacks keeps its value.
    EXPECT_FALSE(store.boolValue(SettingsKey::sounds));
    EXPECT_EQ(importSettingsBytes(store, "{}").message, "Imported 0 settings");
}

TEST_F(SettingsTransferTest, AnExportThatRunsOutOfDiskKeepsTheOldFile)
{
    SmallDisk disk(256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString target = disk.filePath(QStringLiteral("Quorvenda Settings.json"));
    const QByteArray old("{\n  \"quorvenda.sounds\" : false\n}\n");
    ASSERT_TRUE(writeAll(target, old));
    // Thousands of remembered options make a file far larger than the room left.
    for (int i = 0; i < 3000; ++i)
        store.setData(QStringLiteral("quorvenda.options.tool.image.op%1").arg(i), QByteArray(200, 'x'));
    ASSERT_TRUE(disk.fillLeaving(16 * 1024));

    const SettingsTransferResult result = exportSettingsFile(store, target);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Couldn't export: "))) << result.message.toStdString();
    EXPECT_EQ(readAll(target), old);
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden).size(), 2)
        << QDir(disk.path()).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString();
}

TEST_F(SettingsTransferTest, AnExportOverAFileSizeLimitKeepsTheOldFile)
{
    const QString target = path(QStringLiteral("out.json"));
    const QByteArray old("old export\n");
    ASSERT_TRUE(writeAll(target, old));
    for (int i = 0; i < 500; ++i)
        store.setData(QStringLiteral("quorvenda.options.op%1").arg(i), QByteArray(300, 'y'));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const SettingsTransferResult result = exportSettingsFile(store, target);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Couldn't export: "))) << result.message.toStdString();
    EXPECT_EQ(readAll(target), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("out.json")});
}

TEST_F(SettingsTransferTest, AnImportReadsNoMoreThanItsLimit)
{
    const QString big = path(QStringLiteral("big.json"));
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(maxSettingsImportBytes + 10));
    file.close();
    const SettingsTransferResult result = importSettingsFile(store, big);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Couldn't import: ")));
}

} // namespace
