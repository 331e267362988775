#include "model/settings/RememberedOptions.h"
#include "platform/settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <limits>

using namespace qv;

TEST(RememberedOptions, RoundTripThroughTheSettingsFileWithoutPerFileValues)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    const QString id = QStringLiteral("tool.audio.ringtone");

    OperationOptions options;
    options.quality = 0.7;
    options.rotation = 90;
    options.password = QStringLiteral("secret");
    options.cropRect = QRectF(1, 2, 3, 4);
    options.trimStart = 1.5;
    options.trimEnd = 9.0;
    options.snapshotTime = 3.0;
    options.pageOrder = QList<int>{2, 0, 1};
    options.redactions = QMap<int, QList<QRectF>>{{0, {QRectF(0, 0, 5, 5)}}};
    options.fileOrder = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/a.pdf"))};
    options.annotations = QList<Annotation>{Annotation{}};
    options.split = SplitMode::parts(3);
    {
        SettingsStore store(path);
        rememberOptions(options, id, store);
        ASSERT_TRUE(store.flush());
    }

    // The file holds the key with the dots of the id kept.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_TRUE(root.contains(QStringLiteral("quorvenda.options.tool.audio.ringtone")));

    SettingsStore reread(path);
    const OperationOptions loaded = loadRememberedOptions(id, reread);
    EXPECT_EQ(loaded.quality, 0.7);
    EXPECT_EQ(loaded.rotation, 90);
    EXPECT_EQ(loaded.split, SplitMode::parts(3));
    EXPECT_FALSE(loaded.password);
    EXPECT_FALSE(loaded.cropRect);
    EXPECT_FALSE(loaded.trimStart);
    EXPECT_FALSE(loaded.trimEnd);
    EXPECT_FALSE(loaded.snapshotTime);
    EXPECT_FALSE(loaded.pageOrder);
    EXPECT_FALSE(loaded.redactions);
    EXPECT_FALSE(loaded.fileOrder);
    EXPECT_FALSE(loaded.annotations);
    // The run itself still gets everything.
    EXPECT_EQ(options.password, QStringLiteral("secret"));
}

TEST(RememberedOptions, UnreadableOrUnwritableValuesCountAsNone)
{
    SettingsStore store{QString()};
    const QString id = QStringLiteral("tool.image.compress");
    EXPECT_TRUE(loadRememberedOptions(id, store).isEmpty());

    store.setData(rememberedOptionsKey(id), QByteArray("{\"quality\": \"high\", \"rotation\": 90}"));
    EXPECT_TRUE(loadRememberedOptions(id, store).isEmpty());
    // The bad value stays until the next remember.
    EXPECT_TRUE(store.hasStoredValue(rememberedOptionsKey(id)));

    store.setValue(rememberedOptionsKey(id), QStringLiteral("not data"));
    EXPECT_TRUE(loadRememberedOptions(id, store).isEmpty());

    OperationOptions good;
    good.quality = 0.5;
    rememberOptions(good, id, store);
    OperationOptions infinite;
    infinite.speed = std::numeric_limits<double>::infinity();
    rememberOptions(infinite, id, store);
    EXPECT_EQ(loadRememberedOptions(id, store).quality, 0.5);
}
