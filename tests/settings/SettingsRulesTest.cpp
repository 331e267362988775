#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "model/settings/SettingsSnapshot.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsRules.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace qv;

namespace {

class SettingsRulesTest : public ::testing::Test {
protected:
    SettingsRulesTest() { registerDefaultSettings(store); }

    QString trigger(QLatin1String key) const { return store.stringValue(key).value_or(QString()); }
    void setTriggers(const QString& convert, const QString& tools, const QString& actions)
    {
        store.setValue(SettingsKey::triggerConvert, convert);
        store.setValue(SettingsKey::triggerTools, tools);
        store.setValue(SettingsKey::triggerActions, actions);
    }

    SettingsStore store{QString()};
};

TEST_F(SettingsRulesTest, TakingAnotherWheelsKeySwapsTheTwo)
{
    setTriggerKey(store, WheelKind::tools, QStringLiteral("shift"));
    EXPECT_EQ(trigger(SettingsKey::triggerTools), "shift");
    EXPECT_EQ(trigger(SettingsKey::triggerConvert), "command");
    EXPECT_EQ(trigger(SettingsKey::triggerActions), "control");

    // A wheel that was off hands "off" to the wheel whose key it takes.
    setTriggers(QStringLiteral("off"), QStringLiteral("command"), QStringLiteral("control"));
    setTriggerKey(store, WheelKind::convert, QStringLiteral("command"));
    EXPECT_EQ(trigger(SettingsKey::triggerConvert), "command");
    EXPECT_EQ(trigger(SettingsKey::triggerTools), "off");

    // Off never moves another wheel, even one that is off too.
    setTriggers(QStringLiteral("off"), QStringLiteral("off"), QStringLiteral("control"));
    setTriggerKey(store, WheelKind::actions, QStringLiteral("off"));
    EXPECT_EQ(trigger(SettingsKey::triggerConvert), "off");
    EXPECT_EQ(trigger(SettingsKey::triggerTools), "off");
    EXPECT_EQ(trigger(SettingsKey::triggerActions), "off");

    // Unknown text is handed on like a name, and then reads as off.
    setTriggers(QStringLiteral("hyper"), QStringLiteral("command"), QStringLiteral("control"));
    setTriggerKey(store, WheelKind::convert, QStringLiteral("control"));
    EXPECT_EQ(trigger(SettingsKey::triggerActions), "hyper");
    EXPECT_EQ(triggerModifier(WheelKind::actions, store), ModifierChoice::off);
}

TEST_F(SettingsRulesTest, SuffixesStoreOnlyWordsThatDifferFromTheBuiltInOnes)
{
    saveSuffix(store, QStringLiteral("compress"), QStringLiteral("small"));
    EXPECT_EQ(store.value(SettingsKey::suffixes).toMap(),
              (QVariantMap{{QStringLiteral("compress"), QStringLiteral("small")}}));
    EXPECT_EQ(effectiveSuffixes(store).value(QStringLiteral("compress")), "small");
    EXPECT_EQ(suffixExampleLine(QStringLiteral("small")),
              QStringLiteral("A compressed \u201Cphoto.jpg\u201D is saved as \u201Cphoto (small).jpg\u201D."));

    saveSuffix(store, QStringLiteral("compress"), QStringLiteral("compressed"));
    ASSERT_TRUE(store.hasStoredValue(SettingsKey::suffixes));
    EXPECT_EQ(store.value(SettingsKey::suffixes).toMap(), QVariantMap());

    // An emptied field is kept as typed; the tool still uses its own word.
    saveSuffix(store, QStringLiteral("trim"), QString());
    EXPECT_EQ(store.value(SettingsKey::suffixes).toMap(),
              (QVariantMap{{QStringLiteral("trim"), QString()}}));
    EXPECT_EQ(effectiveSuffixes(store).value(QStringLiteral("trim")), "trimmed");
    EXPECT_EQ(suffixFieldText(store, QStringLiteral("trim")), "");
    EXPECT_EQ(suffixFieldText(store, QStringLiteral("crop")), "cropped");
}

TEST_F(SettingsRulesTest, AnEditMergesIntoWhatIsStoredNow)
{
    // Another tool wrote the table (an import) after the tab was built: editing one field must
    // not bring back the old words of the others.
    saveSuffix(store, QStringLiteral("crop"), QStringLiteral("cut"));
    store.setValue(SettingsKey::suffixes, QVariantMap{{QStringLiteral("flip"), QStringLiteral("mirrored")}});
    saveSuffix(store, QStringLiteral("trim"), QStringLiteral("short"));
    EXPECT_EQ(store.value(SettingsKey::suffixes).toMap(),
              (QVariantMap{{QStringLiteral("flip"), QStringLiteral("mirrored")},
                           {QStringLiteral("trim"), QStringLiteral("short")}}));
}

TEST(SettingsWordsTest, OperationNamesReadAsRowLabels)
{
    EXPECT_EQ(humanizedOperationName(QStringLiteral("removeBackground")), "Remove background");
    EXPECT_EQ(humanizedOperationName(QStringLiteral("sampleRate")), "Sample rate");
    EXPECT_EQ(humanizedOperationName(QStringLiteral("ocr")), "Ocr");
    EXPECT_EQ(humanizedOperationName(QStringLiteral("compress")), "Compress");
    EXPECT_EQ(SettingsSnapshot::defaultSuffixes().size(), 31);
    EXPECT_EQ(SettingsSnapshot::defaultSuffixes().firstKey(), "addBackground");
    EXPECT_EQ(SettingsSnapshot::defaultSuffixes().lastKey(), "unlock");
}

TEST(SettingsWordsTest, FFmpegStatusComesFromTheVersionLine)
{
    EXPECT_EQ(ffmpegStatusText(true, QStringLiteral(
                  "ffmpeg version 5.1.9-0+deb12u1 Copyright (c) 2000-2026 the FFmpeg developers")),
              "Version 5.1.9");
    EXPECT_EQ(ffmpegStatusText(true, QStringLiteral("ffmpeg version 6.0 built with clang")), "Version 6.0");
    EXPECT_EQ(ffmpegStatusText(true, QStringLiteral("ffmpeg version 6.1-8")), "Version 6.1");
    EXPECT_EQ(ffmpegStatusText(true, QStringLiteral("ffmpeg version")), "Installed");
    EXPECT_EQ(ffmpegStatusText(true, QStringLiteral("ffmpeg Version 6")), "Installed");
    EXPECT_EQ(ffmpegStatusText(true, QStringLiteral("ffmpeg version --")), "Installed");
    EXPECT_EQ(ffmpegStatusText(true, std::nullopt), "Checking\u2026");
    EXPECT_EQ(ffmpegStatusText(false, QStringLiteral("ffmpeg version 6.0")), "Missing");
}

TEST(SettingsWordsTest, ArchiveListNamesWhatCanBeRead)
{
    EXPECT_EQ(archiveListText({}), "ZIP, TAR, GZ, BZ2, XZ");
    EXPECT_EQ(archiveListText({QStringLiteral("rar")}), "ZIP, TAR, GZ, BZ2, XZ, RAR");
    EXPECT_EQ(archiveListText({QStringLiteral("7z"), QStringLiteral("rar")}), "ZIP, TAR, GZ, BZ2, XZ, 7z, RAR");
}

TEST(SettingsWordsTest, TheAcknowledgementNamesTheLicenceFFmpegReports)
{
    const QString gpl = QStringLiteral(
        "ffmpeg is free software; you can redistribute it and/or modify\nit under the terms of "
        "the GNU General Public License as published by\nthe Free Software Foundation; either "
        "version 2 of the License, or\n(at your option) any later version.");
    EXPECT_TRUE(ffmpegLicenceSentence(gpl).contains(QStringLiteral("GNU GPL 2 or later")));
    EXPECT_FALSE(ffmpegLicenceSentence(gpl).contains(QStringLiteral("LGPL")));
    const QString lgpl = QStringLiteral(
        "under the terms of the GNU Lesser General Public License as published by the Free "
        "Software Foundation; either version 2.1 of the License, or (at your option) any later version.");
    EXPECT_TRUE(ffmpegLicenceSentence(lgpl).contains(QStringLiteral("GNU LGPL 2.1 or later")));
    EXPECT_FALSE(ffmpegLicenceSentence(std::nullopt).contains(QStringLiteral("GPL")));
}

TEST(SettingsWordsTest, CountsReadAsTheFileManagerWritesThem)
{
    EXPECT_EQ(removedItemsMessage(1), "Removed 1 item");
    EXPECT_EQ(removedItemsMessage(0), "Removed 0 items");
    EXPECT_EQ(removedItemsMessage(12), "Removed 12 items");
}

TEST(SettingsWordsTest, ATerminalShowsByItsDesktopName)
{
    QTemporaryDir dir;
    const QString desktop = dir.filePath(QStringLiteral("org.example.Term.desktop"));
    QFile file(desktop);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nName=Example Terminal\nExec=term\n"
               "[Desktop Action New]\nName=New Window\n");
    file.close();
    EXPECT_EQ(terminalDisplayName(desktop), "Example Terminal");
    EXPECT_EQ(terminalDisplayName(QStringLiteral("/usr/bin/xterm")), "xterm");
    EXPECT_EQ(terminalDisplayName(dir.filePath(QStringLiteral("gone.desktop"))), "gone");
}

} // namespace
