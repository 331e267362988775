#include "FakeSettingsPanels.h"

#include "catalogue/ToolRegistry.h"
#include "model/operations/Capabilities.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/settings/SettingsStore.h"
#include "settings/AdvancedSettingsTab.h"
#include "settings/EnginesSettingsTab.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/LicenseView.h"
#include "settings/OutputSettingsTab.h"
#include "settings/QualitySettingsTab.h"
#include "settings/SettingsTransfer.h"
#include "settings/SettingsWindow.h"
#include "settings/SettingsWindowController.h"
#include "settings/ShortcutRecorderView.h"
#include "settings/WheelPreview.h"
#include "settings/WheelsSettingsTab.h"
#include "support/FakeHotkeyGrabber.h"
#include "support/WaitFor.h"
#include "widgets/QualitySliderRow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QRadioButton>
#include <QToolBar>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QApplication>
#include <QToolButton>

#include <atomic>
#include <memory>
#include <thread>

using namespace qv;
using namespace qv::test;

namespace {

// Types the text into the widget as key presses, as a user would.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest()
    {
        registerDefaultSettings(store);
        m_savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
    }
    ~SettingsWindowTest() override
    {
        if (m_controller) {
            m_controller->window()->hide();
            waitFor([&] { return !m_controller->engines()->isProbing() && !m_controller->advanced()->isBusy(); });
        }
        qputenv("XDG_CACHE_HOME", m_savedCache);
    }

    SettingsWindowController& controller()
    {
        if (!m_controller) {
            SettingsWindowController::Services services;
            services.store = &store;
            services.hotkeys = &hotkeys;
            services.registry = &ToolRegistry::shared();
            services.capabilities = &Capabilities::shared();
            services.panels = &panels;
            services.engineProbes.ffmpegVersion = [this](std::stop_token stop) -> std::optional<QString> {
                ++versionProbes;
                while (holdVersion && !stop.stop_requested())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (stop.stop_requested())
                    ++versionProbesStopped;
                return versionLine;
            };
            services.engineProbes.archiveFormats = [] { return QSet<QString>{QStringLiteral("rar")}; };
            services.activeJobCount = [this] { return activeJobs; };
            m_controller = std::make_unique<SettingsWindowController>(std::move(services));
        }
        return *m_controller;
    }

    QTemporaryDir home;
    SettingsStore store{QString()};
    FakeHotkeyGrabber grabber;
    HotkeyCenter hotkeys{grabber, store};
    FakeSettingsPanels panels;
    std::atomic<bool> holdVersion = false;
    std::atomic<int> versionProbes = 0;
    std::atomic<int> versionProbesStopped = 0;
    std::optional<QString> versionLine =
        QStringLiteral("ffmpeg version 5.1.9-0+deb12u1 Copyright (c) 2000-2026 the FFmpeg developers");
    int activeJobs = 0;

private:
    QByteArray m_savedCache;
    std::unique_ptr<SettingsWindowController> m_controller;
};

TEST_F(SettingsWindowTest, OneWindowReopensOnTheTabLeftOpen)
{
    SettingsWindow* window = controller().window();
    EXPECT_EQ(window->windowTitle(), "Quorvenda Settings");
    controller().show();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->width(), 560);
    EXPECT_EQ(window->currentTab(), SettingsTab::general);
    QStringList labels;
    for (SettingsTab tab : allCases<SettingsTab>())
        labels.append(window->tabAction(tab)->text());
    EXPECT_EQ(labels, (QStringList{"General", "Output", "Wheels", "Quality", "Engines", "Advanced"}));

    // Every tab in one window of one size: it does not jump from tab to tab (the Wheels tab
    // fills its list when first shown, which may grow it once).
    for (SettingsTab tab : allCases<SettingsTab>())
        window->tabAction(tab)->trigger();
    QCoreApplication::processEvents();
    const int height = window->height();
    for (SettingsTab tab : allCases<SettingsTab>()) {
        window->tabAction(tab)->trigger();
        EXPECT_EQ(window->currentTab(), tab);
        EXPECT_EQ(window->width(), 560);
        EXPECT_EQ(window->height(), height) << toString(tab).toStdString();
        const int content = window->height() - window->toolBar()->sizeHint().height();
        EXPECT_GE(content, 300) << toString(tab).toStdString();
        EXPECT_LE(window->height(), 680) << toString(tab).toStdString();
    }
    window->tabAction(SettingsTab::quality)->trigger();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(store.hasStoredValue(SettingsWindow::geometryKey()));
    controller().show();
    EXPECT_EQ(controller().window(), window);
    EXPECT_EQ(window->currentTab(), SettingsTab::quality);
    EXPECT_TRUE(window->tabAction(SettingsTab::quality)->isChecked());
    EXPECT_FALSE(enumFromString<SettingsTab>(QStringLiteral("General")).has_value());
}

TEST_F(SettingsWindowTest, ChoosingAnotherWheelsTriggerSwapsTheirKeys)
{
    GeneralSettingsTab* general = controller().general();
    QComboBox* tools = general->triggerPicker(1);
    EXPECT_EQ(general->triggerPicker(0)->currentText(), "Shift");
    EXPECT_EQ(tools->currentText(), "Super");
    const int shift = tools->findData(QStringLiteral("shift"));
    tools->setCurrentIndex(shift);
    Q_EMIT tools->activated(shift);
    EXPECT_EQ(store.stringValue(SettingsKey::triggerTools), "shift");
    EXPECT_EQ(store.stringValue(SettingsKey::triggerConvert), "command");
    EXPECT_EQ(general->triggerPicker(0)->currentText(), "Super");

    EXPECT_FALSE(general->accentResetButton()->isVisibleTo(general));
    store.setValue(SettingsKey::accentColor, QStringLiteral("#4c6ef5"));
    EXPECT_TRUE(general->accentResetButton()->isVisibleTo(general));
    general->accentResetButton()->click();
    EXPECT_EQ(store.stringValue(SettingsKey::accentColor), "#4C6EF5");
}

TEST_F(SettingsWindowTest, TheDragStripsEdgeAndRestFollowTheStore)
{
    GeneralSettingsTab* general = controller().general();
    QComboBox* edge = general->stripEdgePicker();
    QDoubleSpinBox* dwell = general->dwellField();
    EXPECT_EQ(edge->currentData().toString(), "right");
    EXPECT_DOUBLE_EQ(dwell->value(), 0.6);

    const int off = edge->findData(QStringLiteral("off"));
    edge->setCurrentIndex(off);
    Q_EMIT edge->activated(off);
    EXPECT_EQ(store.stringValue(SettingsKey::dragStripEdge), "off");
    dwell->setValue(0);
    EXPECT_DOUBLE_EQ(store.doubleValue(SettingsKey::dragStripDwell), 0.0);
    EXPECT_EQ(dwell->text(), "Never");

    // An import or another window's change shows at once; a name we do not know reads as off.
    store.setValue(SettingsKey::dragStripEdge, QStringLiteral("top"));
    store.setValue(SettingsKey::dragStripDwell, 1.2);
    EXPECT_EQ(edge->currentData().toString(), "top");
    EXPECT_DOUBLE_EQ(dwell->value(), 1.2);
    store.setValue(SettingsKey::dragStripEdge, QStringLiteral("diagonal"));
    EXPECT_EQ(edge->currentData().toString(), "off");
}

TEST_F(SettingsWindowTest, SuffixFieldsFollowAResetOrAnImport)
{
    OutputSettingsTab* output = controller().output();
    QLineEdit* compress = output->suffixField(QStringLiteral("compress"));
    ASSERT_NE(compress, nullptr);
    EXPECT_EQ(output->suffixOperations().size(), 31);
    EXPECT_EQ(compress->text(), "compressed");
    compress->selectAll();
    typeText(compress, QStringLiteral("small"));
    EXPECT_EQ(store.value(SettingsKey::suffixes).toMap(),
              (QVariantMap{{QStringLiteral("compress"), QStringLiteral("small")}}));
    EXPECT_TRUE(output->exampleLine()->text().endsWith(QStringLiteral("\u201Cphoto (small).jpg\u201D.")));

    ASSERT_TRUE(importSettingsBytes(store, R"({"quorvenda.output.suffixes": {"trim": "short"}})").ok);
    EXPECT_EQ(compress->text(), "compressed");
    EXPECT_EQ(output->suffixField(QStringLiteral("trim"))->text(), "short");
    EXPECT_TRUE(output->exampleLine()->text().endsWith(QStringLiteral("\u201Cphoto (compressed).jpg\u201D.")));

    // The next edit keeps what the import stored and brings back nothing older.
    QLineEdit* crop = output->suffixField(QStringLiteral("crop"));
    crop->selectAll();
    typeText(crop, QStringLiteral("cut"));
    EXPECT_EQ(store.value(SettingsKey::suffixes).toMap(),
              (QVariantMap{{QStringLiteral("trim"), QStringLiteral("short")},
                           {QStringLiteral("crop"), QStringLiteral("cut")}}));

    store.remove(SettingsKey::suffixes);
    EXPECT_EQ(crop->text(), "cropped");
    EXPECT_EQ(output->suffixField(QStringLiteral("trim"))->text(), "trimmed");
}

TEST_F(SettingsWindowTest, OutputFoldersComeFromThePanel)
{
    OutputSettingsTab* output = controller().output();
    controller().show(SettingsTab::output);
    EXPECT_TRUE(output->besideOriginalChoice()->isChecked());
    EXPECT_FALSE(output->folderRow()->isVisibleTo(output));
    EXPECT_TRUE(output->fallbackText()->text().startsWith(QLatin1Char('~'))
                || !output->fallbackText()->text().isEmpty());
    output->folderChoice()->click();
    EXPECT_EQ(store.stringValue(SettingsKey::outputLocation), "folder");
    EXPECT_TRUE(output->folderRow()->isVisibleTo(output));
    EXPECT_EQ(output->folderText()->text(), "Choose a folder");

    panels.folder.reset();
    output->chooseFolder(SettingsKey::outputFolder);
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::outputFolder));
    panels.folder = QDir::homePath() + QStringLiteral("/Results");
    output->chooseFolder(SettingsKey::outputFolder);
    EXPECT_EQ(store.stringValue(SettingsKey::outputFolder), QDir::homePath() + QStringLiteral("/Results"));
    EXPECT_EQ(output->folderText()->text(), "~/Results");
}

TEST_F(SettingsWindowTest, TheWebPSlidersLowestPositionStoresThirty)
{
    QualitySettingsTab* quality = controller().quality();
    EXPECT_EQ(quality->webpRow()->valueText(), "85 %");
    QSlider* webp = quality->webpRow()->slider();
    webp->setValue(webp->minimum());
    EXPECT_EQ(store.value(SettingsKey::webpQuality), QVariant(qlonglong(30)));
    EXPECT_EQ(quality->webpRow()->valueText(), "30 %");
    QSlider* jpeg = quality->jpegRow()->slider();
    jpeg->setValue(jpeg->minimum());
    EXPECT_DOUBLE_EQ(store.doubleValue(SettingsKey::jpegQuality), 0.3);
    EXPECT_FALSE(quality->hardwareEncoding()->isEnabled());
    // Showing a value outside a picker's choices writes nothing.
    store.setValue(SettingsKey::mp3Bitrate, 224);
    EXPECT_EQ(store.intValue(SettingsKey::mp3Bitrate), 224);
}

TEST_F(SettingsWindowTest, TheRecorderStoresAChordAndBeepsAtShiftAlone)
{
    hotkeys.registerHotkey();
    ShortcutRecorderView* recorder = controller().general()->recorder();
    int beeps = 0;
    recorder->beep = [&beeps] { ++beeps; };
    EXPECT_EQ(recorder->recordButton()->text(), "Alt+Shift+Space");

    recorder->recordButton()->click();
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(recorder->recordButton()->text(), "Type shortcut\u2026");
    EXPECT_FALSE(grabber.held.has_value());
    recorder->handleRecordedKey(QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A")));
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(recorder->isRecording());
    recorder->handleRecordedKey(
        QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier | Qt::MetaModifier, QStringLiteral("A")));
    EXPECT_FALSE(recorder->isRecording());
    const Shortcut expected{0, 768};
    EXPECT_EQ(hotkeys.storedShortcut(), expected);
    EXPECT_EQ(grabber.held, expected);
    EXPECT_EQ(recorder->recordButton()->text(), "Shift+Super+A");

    // Escape ends recording with the stored key registered again.
    const qsizetype grabs = grabber.grabs.size();
    recorder->startRecording();
    EXPECT_FALSE(grabber.held.has_value());
    recorder->handleRecordedKey(QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(grabber.held, expected);
    EXPECT_EQ(grabber.grabs.size(), grabs + 1);

    // Backspace clears it.
    recorder->startRecording();
    recorder->handleRecordedKey(QKeyEvent(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier));
    EXPECT_EQ(recorder->recordButton()->text(), "None");
    EXPECT_FALSE(recorder->clearButton()->isVisibleTo(recorder));
    EXPECT_FALSE(hotkeys.storedShortcut().has_value());
    EXPECT_FALSE(grabber.held.has_value());
}

TEST_F(SettingsWindowTest, KeysPressedWhileRecordingReachNothingElse)
{
    controller().show(SettingsTab::general);
    ShortcutRecorderView* recorder = controller().general()->recorder();
    recorder->startRecording();
    QLineEdit probe;
    probe.show();
    QKeyEvent chord(QEvent::KeyPress, Qt::Key_A, Qt::AltModifier | Qt::ControlModifier, QStringLiteral("a"));
    QApplication::sendEvent(&probe, &chord);
    EXPECT_TRUE(probe.text().isEmpty());
    EXPECT_EQ(hotkeys.storedShortcut(), (Shortcut{0, Shortcut::altKey | Shortcut::controlKey}));
    // Closing the window while recording ends it and registers the key again.
    recorder->startRecording();
    controller().window()->close();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(grabber.held.has_value());
}

TEST_F(SettingsWindowTest, AShortcutAnotherProgramHoldsIsNamedAsSuch)
{
    controller().show(SettingsTab::general);
    ShortcutRecorderView* recorder = controller().general()->recorder();
    grabber.grabStatus = 10; // BadAccess
    hotkeys.registerHotkey();
    QCoreApplication::processEvents();
    recorder->stopRecording();
    EXPECT_TRUE(recorder->conflictLabel()->isVisibleTo(recorder));
    EXPECT_EQ(recorder->conflictLabel()->text(), "This shortcut is used by another application");
    EXPECT_EQ(recorder->recordButton()->text(), "Alt+Shift+Space");
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::convertHotkey));

    grabber.grabStatus = 0;
    recorder->startRecording();
    recorder->handleRecordedKey(QKeyEvent(QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier, QStringLiteral("k")));
    EXPECT_FALSE(recorder->conflictLabel()->isVisibleTo(recorder));
}

// A wheel and category of the catalogue that offers more than a first ring holds, with every
// default offered.
std::optional<std::pair<WheelKind, FileCategory>> crowdedWheel()
{
    for (WheelKind wheel : {WheelKind::convert, WheelKind::tools}) {
        for (FileCategory category : wheelSettingsCategories()) {
            QStringList offered;
            for (const OperationDescriptor& d : ToolRegistry::shared().descriptorsForCategory(wheel, category))
                offered.append(d.id);
            const QStringList defaults = defaultWheelItems(wheel, category);
            const bool allOffered = std::all_of(defaults.begin(), defaults.end(),
                                                [&](const QString& id) { return offered.contains(id); });
            if (offered.size() > 8 && defaults.size() >= 2 && allOffered)
                return std::pair{wheel, category};
        }
    }
    return std::nullopt;
}

TEST_F(SettingsWindowTest, WheelOrdersStoreOnlyWhatDiffersFromTheDefault)
{
    const auto crowded = crowdedWheel();
    if (!crowded)
        GTEST_SKIP() << "no wheel offers more than eight items yet";
    const auto [wheel, category] = *crowded;
    WheelsSettingsTab* wheels = controller().wheels();
    controller().show(SettingsTab::wheels);
    wheels->setWheel(wheel);
    wheels->setCategory(category);
    const QString key = wheelOrderKey(wheel, category);
    const QStringList defaults = defaultWheelItems(wheel, category);
    EXPECT_EQ(checkedWheelItemIds(wheels->items()), defaults);
    EXPECT_FALSE(store.hasStoredValue(key));
    EXPECT_EQ(wheels->preview()->titles().size(), std::min<qsizetype>(defaults.size(), 8));
    EXPECT_EQ(wheels->preview()->centreText(), wheel == WheelKind::convert ? "Shift" : "Super");

    // A click on the first box, as the list reports it.
    wheels->list()->item(0)->setCheckState(Qt::Unchecked);
    ASSERT_TRUE(waitFor([&] { return store.hasStoredValue(key); }));
    EXPECT_EQ(store.stringListValue(key), defaults.mid(1));
    EXPECT_EQ(wheels->list()->item(0)->checkState(), Qt::Unchecked);
    ASSERT_TRUE(wheels->setItemChecked(0, true));
    EXPECT_FALSE(store.hasStoredValue(key));

    // Eight checked: the rest cannot be.
    for (int i = 0; i < wheels->items().size(); ++i)
        wheels->setItemChecked(i, true);
    EXPECT_EQ(checkedWheelItemIds(wheels->items()).size(), 8);
    const int unchecked = int(wheels->items().size()) - 1;
    EXPECT_FALSE(wheels->items()[unchecked].isOn);
    EXPECT_FALSE(wheels->list()->item(unchecked)->flags() & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(wheels->setItemChecked(unchecked, true));
    EXPECT_EQ(wheels->preview()->titles().size(), 8);
    ASSERT_TRUE(wheels->setItemChecked(0, false));
    EXPECT_TRUE(wheels->list()->item(unchecked)->flags() & Qt::ItemIsUserCheckable);

    wheels->restoreDefaults();
    EXPECT_FALSE(store.hasStoredValue(key));
    EXPECT_EQ(checkedWheelItemIds(wheels->items()), defaults);

    // Moving a checked item stores the new order; moving it back removes the key.
    wheels->moveItem(0, 1);
    QStringList moved = defaults;
    moved.move(0, 1);
    EXPECT_EQ(store.stringListValue(key), moved);
    wheels->moveItem(1, 0);
    EXPECT_FALSE(store.hasStoredValue(key));
    // A drag in the list moves the row there first.
    ASSERT_TRUE(wheels->list()->model()->moveRows(QModelIndex(), 0, 1, QModelIndex(), 2));
    ASSERT_TRUE(waitFor([&] { return store.hasStoredValue(key); }));
    EXPECT_EQ(store.stringListValue(key), moved);
    EXPECT_EQ(checkedWheelItemIds(wheels->items()), moved);

    store.setValue(SettingsKey::triggerTools, QStringLiteral("off"));
    wheels->setWheel(WheelKind::tools);
    EXPECT_EQ(wheels->preview()->centreText(), "");
}

TEST_F(SettingsWindowTest, StoredIdsTheCatalogueLacksAreDropped)
{
    const QStringList offered = defaultWheelItems(WheelKind::convert, FileCategory::video);
    ASSERT_GE(offered.size(), 2);
    const QString key = wheelOrderKey(WheelKind::convert, FileCategory::video);
    store.setValue(key, QStringList{QStringLiteral("convert.video.nothing"), offered[1], offered[0]});
    WheelsSettingsTab* wheels = controller().wheels();
    controller().show(SettingsTab::wheels);
    wheels->setCategory(FileCategory::video);
    EXPECT_EQ(store.stringListValue(key), (QStringList{offered[1], offered[0]}));
}

TEST_F(SettingsWindowTest, TheEnginesTabNeverWaitsForFFmpeg)
{
    if (!Capabilities::shared().hasFFmpeg())
        GTEST_SKIP() << "no FFmpeg here";
    holdVersion = true;
    controller().show(SettingsTab::engines);
    EnginesSettingsTab* engines = controller().engines();
    EXPECT_EQ(engines->ffmpegStatus(), "Checking\u2026");
    ASSERT_TRUE(waitFor([&] { return versionProbes.load() == 1; }));
    // Hiding the tab stops the probe.
    controller().window()->selectTab(SettingsTab::general);
    ASSERT_TRUE(waitFor([&] { return versionProbesStopped.load() == 1; }));
    ASSERT_TRUE(waitFor([&] { return !engines->isProbing(); }));
    EXPECT_EQ(engines->ffmpegStatus(), "Checking\u2026");

    holdVersion = false;
    controller().window()->selectTab(SettingsTab::engines);
    ASSERT_TRUE(waitFor([&] { return engines->ffmpegStatus() == QStringLiteral("Version 5.1.9"); }));
    EXPECT_EQ(engines->archivesStatus(), "ZIP, TAR, GZ, BZ2, XZ, RAR");
    EXPECT_EQ(engines->pandocStatus(), Capabilities::shared().pandocURL() ? "Installed" : "Not installed");
    EXPECT_EQ(engines->ghostscriptStatus(), Capabilities::shared().ghostscriptURL() ? "Installed" : "Not installed");

    engines->showLicense();
    ASSERT_NE(engines->licenseView(), nullptr);
    // No licence probe here: the sheet says the text is missing, and Done closes it.
    EXPECT_EQ(engines->licenseView()->license(), LicenseView::missingText());
    engines->licenseView()->doneButton()->click();
    EXPECT_FALSE(engines->licenseView()->isVisible());
}

TEST_F(SettingsWindowTest, CleanUpSparesWorkStillInUse)
{
    const QString root = TemporaryRoot::secure();
    const QString live = TemporaryRoot::makeLiveFolder(QStringLiteral("work-live"));
    QFile old(root + QStringLiteral("/leftover.tmp"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("x");
    ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    old.close();

    AdvancedSettingsTab* advanced = controller().advanced();
    controller().show(SettingsTab::advanced);
    ASSERT_TRUE(waitFor([&] { return !advanced->isBusy(); }));
    EXPECT_GT(advanced->tempSize(), 0);
    advanced->cleanUpTemporaryFiles();
    ASSERT_TRUE(waitFor([&] { return advanced->message().has_value(); }));
    EXPECT_EQ(advanced->message(), "Removed 1 item");
    EXPECT_TRUE(QFileInfo::exists(live));
    EXPECT_FALSE(QFileInfo::exists(old.fileName()));
    EXPECT_EQ(advanced->tempSizeLabel()->text(), "none");
    WorkFolderRegistry::remove(live);
}

TEST_F(SettingsWindowTest, TheAdvancedCommandsReportInTheirLine)
{
    AdvancedSettingsTab* advanced = controller().advanced();
    panels.exportFile.reset();
    advanced->exportSettings();
    EXPECT_FALSE(advanced->message().has_value());
    EXPECT_FALSE(advanced->messageLabel()->isVisibleTo(advanced));

    panels.exportFile = home.filePath(QStringLiteral("Quorvenda Settings.json"));
    advanced->exportSettings();
    EXPECT_EQ(advanced->message(), "Exported 36 settings");

    store.setValue(SettingsKey::onboardingDone, true);
    store.setValue(SettingsKey::sounds, false);
    store.setValue(QStringLiteral("other.key"), 1);
    panels.confirm = false;
    advanced->performReset();
    EXPECT_TRUE(store.hasStoredValue(SettingsKey::sounds));
    panels.confirm = true;
    const qsizetype grabs = grabber.grabs.size();
    advanced->performReset();
    EXPECT_EQ(advanced->message(), "Settings were reset");
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::sounds));
    EXPECT_TRUE(store.hasStoredValue(SettingsKey::onboardingDone));
    EXPECT_TRUE(store.hasStoredValue(QStringLiteral("other.key")));
    EXPECT_EQ(grabber.grabs.size(), grabs + 1);

    panels.importFile = panels.exportFile;
    advanced->importSettings();
    EXPECT_EQ(advanced->message(), "Imported 36 settings");

    EXPECT_EQ(advanced->terminalName()->text(), "The desktop's terminal");
    EXPECT_FALSE(advanced->terminalReset()->isVisibleTo(advanced));
    panels.application = QStringLiteral("/usr/bin/xterm");
    advanced->chooseTerminalApp();
    EXPECT_EQ(advanced->terminalName()->text(), "xterm");
    EXPECT_TRUE(advanced->terminalReset()->isVisibleTo(advanced));
    advanced->terminalReset()->click();
    EXPECT_EQ(store.stringValue(SettingsKey::terminalApp), "");
    EXPECT_EQ(advanced->terminalName()->text(), "The desktop's terminal");
}

} // namespace

namespace {

TEST(GeneralSettingsTabTest, AFailedLoginChangeShowsWhyAndTheRealState)
{
    SettingsStore store{QString()};
    registerDefaultSettings(store);
    FakeHotkeyGrabber grabber;
    HotkeyCenter hotkeys(grabber, store);
    bool enabled = false;
    bool refuse = true;
    GeneralSettingsTab::Services services;
    services.setLaunchAtLogin = [&](bool on) {
        if (refuse)
            throw std::runtime_error("The autostart folder is read-only");
        enabled = on;
    };
    services.launchAtLoginEnabled = [&] { return enabled; };
    services.keyboardControlAvailable = [] { return false; };
    GeneralSettingsTab tab(store, hotkeys, services);
    tab.show();

    tab.launchAtLoginSwitch()->click();
    EXPECT_FALSE(tab.launchAtLoginSwitch()->isChecked());
    EXPECT_TRUE(tab.loginErrorLabel()->isVisible());
    EXPECT_EQ(tab.loginErrorLabel()->text(), "The autostart folder is read-only");

    refuse = false;
    tab.launchAtLoginSwitch()->click();
    EXPECT_TRUE(tab.launchAtLoginSwitch()->isChecked());
    EXPECT_FALSE(tab.loginErrorLabel()->isVisible());

    // Without X11 the keyboard switch says what it needs.
    EXPECT_FALSE(tab.keyboardCaption()->isVisible());
    store.setValue(SettingsKey::keyboardWhileDragging, true);
    EXPECT_TRUE(tab.keyboardCaption()->isVisible());
    EXPECT_TRUE(tab.recorder());
    EXPECT_FALSE(tab.hotkeyCommandField());

    // Where the desktop keeps its keys, the row gives the command to bind instead of recording.
    services.hotkeyElsewhere = [] {
        return GeneralSettingsTab::Services::KeyElsewhere{QStringLiteral("Bind it yourself:"),
                                                          QStringLiteral("quorvenda --convert-copied")};
    };
    GeneralSettingsTab elsewhere(store, hotkeys, services);
    EXPECT_FALSE(elsewhere.recorder());
    ASSERT_TRUE(elsewhere.hotkeyCommandField());
    EXPECT_EQ(elsewhere.hotkeyCommandField()->text(), "quorvenda --convert-copied");
    EXPECT_TRUE(elsewhere.hotkeyCommandField()->isReadOnly());
    auto* copy = elsewhere.hotkeyCommandField()->parentWidget()->findChild<QPushButton*>();
    ASSERT_TRUE(copy);
    copy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "quorvenda --convert-copied");
}

} // namespace

TEST_F(SettingsWindowTest, WhatTheWindowSaysReadsAsItIsOnThisComputer)
{
    SettingsWindow* window = controller().window();
    controller().show(SettingsTab::general);
    // Escape closes the window as Ctrl+W does.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window, &escape);
    EXPECT_FALSE(window->isVisible());
    // Escape while the recorder listens goes to the recorder, not to the window.
    controller().show(SettingsTab::general);
    ShortcutRecorderView* recorder = controller().general()->recorder();
    recorder->startRecording();
    QApplication::sendEvent(recorder, &escape);
    EXPECT_TRUE(window->isVisible());
    recorder->stopRecording();

    // Each tab has a picture of its own.
    QList<QImage> pictures;
    for (SettingsTab tab : allCases<SettingsTab>())
        pictures.append(window->tabAction(tab)->icon().pixmap(24, 24).toImage());
    for (int i = 0; i < pictures.size(); ++i)
        for (int j = i + 1; j < pictures.size(); ++j)
            EXPECT_NE(pictures[i], pictures[j]) << i << " and " << j;

    // Hardware encoding is not there, whatever a settings file from elsewhere says.
    store.setValue(SettingsKey::hardwareEncoding, true);
    QCheckBox* hardware = controller().quality()->hardwareEncoding();
    EXPECT_FALSE(hardware->isChecked());
    EXPECT_FALSE(hardware->isEnabled());

    // The words of this desktop, and no other's.
    QStringList texts;
    for (const QLabel* label : window->findChildren<QLabel*>())
        texts.append(label->text());
    for (const QAbstractButton* button : window->findChildren<QAbstractButton*>())
        texts.append(button->text());
    EXPECT_TRUE(texts.contains(QStringLiteral("Convert Copied Files")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Show the result in your file manager")));
    for (const QString& text : texts) {
        for (const char* foreign : {"Finder", "this Mac", "This Mac", "AirDrop", "Quick Look"})
            EXPECT_FALSE(text.contains(QLatin1String(foreign))) << qPrintable(text);
    }

    EXPECT_EQ(AdvancedSettingsTab::temporaryFilesText(0), "none");
    EXPECT_EQ(AdvancedSettingsTab::temporaryFilesText(12'000), "12 KB");
}
