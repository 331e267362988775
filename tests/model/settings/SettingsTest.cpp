#include "model/operations/HexColor.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "model/settings/SettingsReset.h"
#include "model/settings/SettingsSnapshot.h"
#include "platform/settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace qv;

namespace {

PageSizeChoice expectedLocalePageSize()
{
    return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem
        ? PageSizeChoice::letter
        : PageSizeChoice::a4;
}

// A store in a fresh configuration folder with the defaults registered.
struct FreshStore {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("quorvenda/settings.json"));
    SettingsStore store{path};
    FreshStore() { registerDefaultSettings(store); }
};

} // namespace

TEST(Settings, RegisteredDefaults)
{
    const auto defaults = defaultSettings();
    ASSERT_EQ(defaults.size(), 36);
    EXPECT_EQ(defaults.first().first, QStringLiteral("quorvenda.trigger.convert"));
    EXPECT_EQ(defaults.at(32).first, QStringLiteral("quorvenda.quality.pageSize"));
    EXPECT_EQ(defaults.last().first, QStringLiteral("quorvenda.advanced.audioJobs"));
    QStringList keys;
    for (const auto& [key, value] : defaults)
        keys.append(key);
    keys.removeDuplicates();
    EXPECT_EQ(keys.size(), 36);

    FreshStore fresh;
    const SettingsStore& store = fresh.store;
    EXPECT_EQ(store.stringValue(SettingsKey::triggerTools), QStringLiteral("command"));
    EXPECT_DOUBLE_EQ(store.doubleValue(SettingsKey::jpegQuality), 0.85);
    EXPECT_EQ(store.intValue(SettingsKey::videoAudioBitrate), 160);
    EXPECT_TRUE(store.boolValue(SettingsKey::sounds));
    EXPECT_EQ(store.stringValue(SettingsKey::pageSize), toString(expectedLocalePageSize()));
    EXPECT_EQ(store.intValue(SettingsKey::cpuJobs), defaultCpuJobs());
    EXPECT_GE(defaultCpuJobs(), 1);
    // A lane per processor, as far as the memory goes: half a gigabyte each.
    const qint64 gigabyte = qint64(1) << 30;
    EXPECT_EQ(defaultCpuJobs(4, 16 * gigabyte), 4);
    EXPECT_EQ(defaultCpuJobs(2, 16 * gigabyte), 2);
    EXPECT_EQ(defaultCpuJobs(1, 16 * gigabyte), 1);
    EXPECT_EQ(defaultCpuJobs(16, 4 * gigabyte), 8);
    EXPECT_EQ(defaultCpuJobs(4, gigabyte / 4), 1);
    EXPECT_EQ(defaultCpuJobs(0, 0), 1);
    EXPECT_EQ(defaultCpuJobs(6, 0), 6);

    // With nothing stored, the snapshot has every registered value.
    const SettingsSnapshot snapshot = SettingsSnapshot::load(store);
    SettingsSnapshot expected;
    expected.fallbackFolder = defaultFallbackFolder(store);
    expected.pageSize = expectedLocalePageSize();
    expected.cpuJobs = defaultCpuJobs();
    // No budget stored: a quarter of the physical memory, as the job center holds it.
    expected.batchMemoryBytes = qint64(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGE_SIZE) / 4;
    EXPECT_EQ(snapshot, expected);
    EXPECT_FALSE(snapshot.outputFolder);
    EXPECT_EQ(snapshot.suffixes, SettingsSnapshot::defaultSuffixes());
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    EXPECT_EQ(QDir::cleanPath(snapshot.fallbackFolder.toLocalFile()), QDir::cleanPath(downloads));
    EXPECT_TRUE(snapshot.fallbackFolder.path().endsWith(QLatin1Char('/')));

    // Registered defaults are never written out.
    fresh.store.setValue(SettingsKey::paused, true);
    ASSERT_TRUE(fresh.store.flush());
    QFile file(fresh.path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object().keys(),
              QStringList{QStringLiteral("quorvenda.paused")});
}

TEST(Settings, SnapshotReadsStoredValuesAndFallsBack)
{
    FreshStore fresh;
    SettingsStore& store = fresh.store;
    store.setValue(SettingsKey::outputLocation, QStringLiteral("folder"));
    store.setValue(SettingsKey::jpegQuality, 0.6);
    store.setValue(SettingsKey::webpQuality, 50);
    store.setValue(SettingsKey::preserveDates, true);
    store.setValue(SettingsKey::videoCodec, QStringLiteral("hevc"));
    store.setValue(SettingsKey::videoPreset, QStringLiteral("fastest"));
    store.setValue(SettingsKey::pdfCompression, QStringLiteral("high"));
    store.setValue(SettingsKey::pageSize, QStringLiteral("A4"));
    store.setValue(SettingsKey::alphaBackground, QStringLiteral("#000000"));
    store.setValue(SettingsKey::fallbackFolder, fresh.dir.path());

    SettingsSnapshot snapshot = SettingsSnapshot::load(store);
    EXPECT_EQ(snapshot.saveLocation, SaveLocation::folder);
    EXPECT_FALSE(snapshot.outputFolder) << "folder chosen but none set";
    EXPECT_DOUBLE_EQ(snapshot.jpegQuality, 0.6);
    EXPECT_EQ(snapshot.webpQuality, 50);
    EXPECT_TRUE(snapshot.preserveDates);
    EXPECT_EQ(snapshot.videoCodec, VideoCodecChoice::hevc);
    EXPECT_EQ(snapshot.videoPreset, QualityPreset::medium);
    EXPECT_EQ(snapshot.pdfCompression, PDFCompressionLevel::high);
    EXPECT_EQ(snapshot.pageSize, expectedLocalePageSize());
    EXPECT_EQ(snapshot.alphaBackground, QStringLiteral("#000000"));
    EXPECT_EQ(snapshot.fallbackFolder, QUrl::fromLocalFile(fresh.dir.path() + QLatin1Char('/')));

    store.setValue(SettingsKey::outputFolder, fresh.dir.path());
    store.setValue(SettingsKey::outputLocation, QStringLiteral("Folder"));
    store.setValue(SettingsKey::videoCodec, QStringLiteral("HEVC"));
    store.setValue(SettingsKey::pageSize, QStringLiteral("letter"));
    store.setValue(SettingsKey::videoPreset, QStringLiteral("high"));
    snapshot = SettingsSnapshot::load(store);
    ASSERT_TRUE(snapshot.outputFolder);
    EXPECT_EQ(*snapshot.outputFolder, QUrl::fromLocalFile(fresh.dir.path() + QLatin1Char('/')));
    EXPECT_EQ(snapshot.saveLocation, SaveLocation::besideOriginal);
    EXPECT_EQ(snapshot.videoCodec, VideoCodecChoice::h264);
    EXPECT_EQ(snapshot.pageSize, PageSizeChoice::letter);
    EXPECT_EQ(snapshot.videoPreset, QualityPreset::high);

    // A relative folder would put results wherever the process happens to run.
    store.setValue(SettingsKey::outputFolder, QStringLiteral("results"));
    store.setValue(SettingsKey::fallbackFolder, QStringLiteral("elsewhere"));
    snapshot = SettingsSnapshot::load(store);
    EXPECT_FALSE(snapshot.outputFolder);
    EXPECT_EQ(snapshot.fallbackFolder, defaultFallbackFolder(SettingsStore(QString())));
    EXPECT_EQ(folderUrlFromSetting(QStringLiteral("~/Out")),
              QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/Out/")));

    // Numbers no encoder takes (a hand-edited or imported file) keep the built-in values; a
    // number the menus do not offer but the encoders take is kept.
    store.setValue(SettingsKey::mp3Bitrate, -192);
    store.setValue(SettingsKey::aacBitrate, 100000);
    store.setValue(SettingsKey::videoAudioBitrate, 224);
    store.setValue(SettingsKey::webpQuality, 500);
    store.setValue(SettingsKey::jpegQuality, -1);
    store.setValue(SettingsKey::sampleRate, -44100);
    store.setValue(SettingsKey::imageMaxDimension, 0);
    store.setValue(SettingsKey::videoMaxResolution, -720);
    store.setValue(SettingsKey::pdfDPI, 0);
    snapshot = SettingsSnapshot::load(store);
    EXPECT_EQ(snapshot.mp3Bitrate, 192);
    EXPECT_EQ(snapshot.aacBitrate, 192);
    EXPECT_EQ(snapshot.videoAudioBitrate, 224);
    EXPECT_EQ(snapshot.webpQuality, 85);
    EXPECT_DOUBLE_EQ(snapshot.jpegQuality, 0.85);
    EXPECT_EQ(snapshot.sampleRate, 0);
    EXPECT_EQ(snapshot.imageMaxDimension, 0);
    EXPECT_EQ(snapshot.videoMaxResolution, 0);
    EXPECT_DOUBLE_EQ(snapshot.pdfDPI, 300.0);

    // Without registration, built-in values rather than zeros.
    SettingsStore bare{QString()};
    SettingsSnapshot builtIn = SettingsSnapshot::load(bare);
    EXPECT_EQ(builtIn.webpQuality, 85);
    EXPECT_TRUE(builtIn.hardwareEncoding);
}

TEST(Settings, TriggerWheelSizeAndAccent)
{
    FreshStore fresh;
    SettingsStore& store = fresh.store;
    EXPECT_EQ(triggerModifier(WheelKind::convert, store), ModifierChoice::shift);
    EXPECT_EQ(triggerModifier(WheelKind::tools, store), ModifierChoice::command);
    EXPECT_EQ(triggerModifier(WheelKind::actions, store), ModifierChoice::control);
    store.setValue(SettingsKey::triggerTools, QStringLiteral("hyper"));
    EXPECT_EQ(triggerModifier(WheelKind::tools, store), ModifierChoice::off);
    store.setValue(SettingsKey::triggerActions, QStringLiteral("option"));
    EXPECT_EQ(triggerModifier(WheelKind::actions, store), ModifierChoice::option);
    EXPECT_EQ(triggerModifier(WheelKind::convert, SettingsStore(QString())), ModifierChoice::off);

    EXPECT_EQ(currentWheelSize(store), WheelSize::medium);
    store.setValue(SettingsKey::wheelSize, QStringLiteral("large"));
    EXPECT_EQ(currentWheelSize(store), WheelSize::large);
    store.setValue(SettingsKey::wheelSize, QStringLiteral("huge"));
    EXPECT_EQ(currentWheelSize(store), WheelSize::medium);

    EXPECT_EQ(hexString(currentAccentColor(store)), QStringLiteral("#4C6EF5"));
    store.setValue(SettingsKey::accentColor, QStringLiteral("#10a020"));
    EXPECT_EQ(hexString(currentAccentColor(store)), QStringLiteral("#10A020"));
    store.setValue(SettingsKey::accentColor, QStringLiteral("purple"));
    EXPECT_EQ(hexString(currentAccentColor(store)), QStringLiteral("#4C6EF5"));

    EXPECT_EQ(wheelOrderKey(WheelKind::tools, FileCategory::image),
              QStringLiteral("quorvenda.wheel.tools.image"));
    EXPECT_EQ(wheelOrderKey(WheelKind::convert, FileCategory::presentation),
              QStringLiteral("quorvenda.wheel.convert.presentation"));
}

TEST(Settings, SuffixWords)
{
    FreshStore fresh;
    SettingsStore& store = fresh.store;
    const auto& builtIn = SettingsSnapshot::defaultSuffixes();
    ASSERT_EQ(builtIn.size(), 31);

    store.setValue(SettingsKey::suffixes,
                   QVariantMap{{QStringLiteral("compress"), QStringLiteral(" \t ")},
                               {QStringLiteral("resize"), QStringLiteral(" smaller ")},
                               {QStringLiteral("sharpen"), QStringLiteral("sharp")},
                               {QStringLiteral("crop"), QStringLiteral("a/b")},
                               {QStringLiteral("flip"), QStringLiteral("x") + QChar(u'\0')},
                               {QStringLiteral("escape"), QStringLiteral("../up")}});
    QMap<QString, QString> suffixes = effectiveSuffixes(store);
    EXPECT_EQ(suffixes.value(QStringLiteral("compress")), QStringLiteral("compressed"));
    EXPECT_EQ(suffixes.value(QStringLiteral("resize")), QStringLiteral(" smaller "));
    EXPECT_EQ(suffixes.value(QStringLiteral("sharpen")), QStringLiteral("sharp"));
    EXPECT_EQ(suffixes.value(QStringLiteral("crop")), QStringLiteral("cropped"));
    EXPECT_EQ(suffixes.value(QStringLiteral("flip")), QStringLiteral("flipped"));
    EXPECT_FALSE(suffixes.contains(QStringLiteral("escape")));
    EXPECT_EQ(suffixes.size(), 32);

    const SettingsSnapshot snapshot = SettingsSnapshot::load(store);
    EXPECT_EQ(snapshot.suffixForOperation(QStringLiteral("crop")), QStringLiteral("cropped"));
    EXPECT_EQ(snapshot.suffixForOperation(QStringLiteral("sharpen")), QStringLiteral("sharp"));
    EXPECT_EQ(snapshot.suffixForOperation(QStringLiteral("unknownTool")),
              QStringLiteral("unknownTool"));
    for (const QString& word : snapshot.suffixes)
        EXPECT_FALSE(word.contains(QLatin1Char('/'))) << qPrintable(word);

    // One number among the values: none of the user's words count.
    store.setValue(SettingsKey::suffixes,
                   QVariantMap{{QStringLiteral("resize"), QStringLiteral("smaller")},
                               {QStringLiteral("trim"), 3}});
    EXPECT_EQ(effectiveSuffixes(store), builtIn);
    store.setValue(SettingsKey::suffixes, QStringLiteral("not a dictionary"));
    EXPECT_EQ(effectiveSuffixes(store), builtIn);
}

TEST(Settings, ResetAndExportFilter)
{
    FreshStore fresh;
    SettingsStore& store = fresh.store;
    store.setValue(SettingsKey::onboardingDone, true);
    store.setValue(SettingsKey::recentResults, QStringList{QStringLiteral("/tmp/a.png")});
    store.setValue(QStringLiteral("quorvenda.options.tool.image.resize"), QStringLiteral("{}"));
    store.setValue(SettingsKey::suffixes, QVariantMap{{QStringLiteral("trim"), QStringLiteral("cut")}});
    store.setValue(SettingsKey::sounds, false);
    store.setValue(QStringLiteral("other.app.key"), 5);
    store.setValue(QStringLiteral("quorvendaX"), 1);

    resetAllSettings(store);
    EXPECT_TRUE(store.boolValue(SettingsKey::onboardingDone));
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::recentResults));
    EXPECT_FALSE(store.hasStoredValue(QStringLiteral("quorvenda.options.tool.image.resize")));
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::suffixes));
    EXPECT_TRUE(store.boolValue(SettingsKey::sounds)) << "back to the registered default";
    EXPECT_EQ(store.intValue(QStringLiteral("other.app.key")), 5);
    EXPECT_TRUE(store.hasStoredValue(QStringLiteral("quorvendaX")));
    EXPECT_EQ(store.allKeys().size(), 36 + 3);

    // The reset reaches the file as well.
    ASSERT_TRUE(store.flush());
    SettingsStore reread(fresh.path);
    EXPECT_EQ(reread.allKeys(),
              (QStringList{QStringLiteral("other.app.key"), QStringLiteral("quorvenda.onboardingDone"),
                           QStringLiteral("quorvendaX")}));

    EXPECT_TRUE(isExportableSettingsKey(QStringLiteral("quorvenda.quality.jpeg")));
    EXPECT_TRUE(isExportableSettingsKey(QStringLiteral("quorvenda.wheel.tools.image")));
    EXPECT_TRUE(isExportableSettingsKey(QStringLiteral("quorvenda.onboardingDone")));
    EXPECT_FALSE(isExportableSettingsKey(QStringLiteral("quorvenda.state.recentResults")));
    EXPECT_FALSE(isExportableSettingsKey(QStringLiteral("other.quorvenda.key")));
    EXPECT_FALSE(isExportableSettingsKey(QStringLiteral("quorvendaX")));
}

TEST(Settings, HexColours)
{
    const QColor accent = QColor::fromRgb(0x4C, 0x6E, 0xF5);
    EXPECT_EQ(colorFromHex(QStringLiteral("#4C6EF5")), accent);
    EXPECT_EQ(colorFromHex(QStringLiteral("#4c6ef5")), accent);
    EXPECT_EQ(colorFromHex(QStringLiteral("4C6EF5")), accent);
    EXPECT_EQ(colorFromHex(QStringLiteral(" \t#4C6EF5  ")), accent);
    EXPECT_FALSE(colorFromHex(QStringLiteral("#FFF")));
    EXPECT_FALSE(colorFromHex(QStringLiteral("#4C6EF")));
    EXPECT_FALSE(colorFromHex(QStringLiteral("#4C6EG5")));
    EXPECT_FALSE(colorFromHex(QStringLiteral("##4C6EF5")));
    EXPECT_FALSE(colorFromHex(QStringLiteral("0x4C6E")));
    EXPECT_FALSE(colorFromHex(QStringLiteral("+4C6EF")));
    EXPECT_FALSE(colorFromHex(QString()));

    EXPECT_EQ(hexString(*colorFromHex(QStringLiteral("#4c6ef5"))), QStringLiteral("#4C6EF5"));
    EXPECT_EQ(hexString(QColor(Qt::white)), QStringLiteral("#FFFFFF"));
    EXPECT_EQ(hexString(QColor(Qt::black)), QStringLiteral("#000000"));
    EXPECT_EQ(hexString(QColor::fromRgbF(0.5f, 0.0f, 1.0f)), QStringLiteral("#8000FF"));
    EXPECT_EQ(hexString(QColor::fromHsv(0, 255, 255)), QStringLiteral("#FF0000"));
    EXPECT_EQ(hexString(QColor()), QStringLiteral("#4C6EF5"));
}
