#include "jobs/OptionsActions.h"
#include "jobs/ui/MergeOrderList.h"
#include "jobs/ui/OptionsForm.h"
#include "jobs/ui/OptionsSheet.h"
#include "model/settings/RememberedOptions.h"
#include "platform/settings/SettingsStore.h"
#include "platform/ui/EditorButtons.h"
#include "platform/ui/EditorWindow.h"
#include "support/FakeScreens.h"
#include "widgets/ColorWell.h"
#include "widgets/QualitySliderRow.h"
#include "widgets/SegmentedPicker.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QCoreApplication>
#include <QKeyEvent>

using namespace qv;

namespace {

// Key presses as the user types them, so controls see edits rather than programmatic changes.
void keyClick(QWidget* widget, int key, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

void keyClicks(QWidget* widget, const QString& text)
{
    for (QChar c : text)
        keyClick(widget, c.toUpper().unicode(), QString(c));
}

FileInfo file(const QString& name)
{
    FileInfo info;
    info.url = QUrl::fromLocalFile(QStringLiteral("/in/") + name);
    info.name = name;
    return info;
}

struct Sheet {
    OptionsModel model;
    std::optional<OperationOptions> applied;
    OptionsForm form;

    Sheet(const QList<OptionField>& fields, const QString& title = QStringLiteral("Convert"),
          QList<FileInfo> files = {file(QStringLiteral("a.png"))},
          OptionsModel::DefaultQuality quality = [](const OperationOptions&) { return 0.85; })
        : model(OperationOptions{}, files, std::move(quality), SettingsSnapshot{}),
          form(title, QStringLiteral("a.png"), fields, &model, true, [] {},
               [this] { applied = model.options(); })
    {
    }

    template <typename W>
    W* find(const QString& name) const
    {
        W* widget = form.findChild<W*>(name);
        EXPECT_NE(widget, nullptr) << qPrintable(name);
        return widget;
    }
    void pick(const QString& name, const QString& text) const
    {
        QComboBox* combo = find<QComboBox>(name);
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << qPrintable(text);
        Q_EMIT combo->activated(index);
    }
    void segment(const QString& name, int index) const
    {
        find<SegmentedPicker>(name)->button(index)->click();
    }
    QByteArray applyJson()
    {
        form.buttons()->actionButton()->click();
        EXPECT_TRUE(applied.has_value());
        return encodeOperationOptions(applied.value_or(OperationOptions{})).value_or("?");
    }
};

QList<OptionField> everyFieldBut(std::initializer_list<OptionField> left)
{
    QList<OptionField> fields = allCases<OptionField>();
    for (OptionField field : left)
        fields.removeAll(field);
    return fields;
}

} // namespace

TEST(OptionsSheet, UntouchedRowsShowDefaultsAndWriteNothing)
{
    Sheet sheet(everyFieldBut({OptionField::password}), QStringLiteral("Convert"),
                {file(QStringLiteral("a.pdf")), file(QStringLiteral("b.pdf"))});
    EXPECT_EQ(sheet.find<QComboBox>(QStringLiteral("audioBitrate"))->currentText(), QStringLiteral("192 kbps"));
    EXPECT_EQ(sheet.find<QComboBox>(QStringLiteral("resizeScale"))->currentText(), QStringLiteral("50 %"));
    EXPECT_EQ(sheet.find<QComboBox>(QStringLiteral("dpi"))->currentText(), QStringLiteral("300 dpi"));
    EXPECT_EQ(sheet.find<QComboBox>(QStringLiteral("speed"))->currentText(), QStringLiteral("2×"));
    EXPECT_EQ(sheet.find<QComboBox>(QStringLiteral("splitMedia"))->currentText(), QStringLiteral("2 equal parts"));
    EXPECT_EQ(sheet.find<QComboBox>(QStringLiteral("sampleRate"))->currentText(), QStringLiteral("Original"));
    EXPECT_EQ(sheet.find<SegmentedPicker>(QStringLiteral("rotation.rotation"))->currentValue(), QVariant(90));
    EXPECT_EQ(sheet.find<SegmentedPicker>(QStringLiteral("compressPreset"))->currentValue(),
              QVariant(QStringLiteral("medium")));
    EXPECT_EQ(sheet.find<QualitySliderRow>(QStringLiteral("imageQuality"))->valueText(), QStringLiteral("85 %"));
    EXPECT_EQ(sheet.find<QDoubleSpinBox>(QStringLiteral("fadeIn"))->value(), 2.0);
    EXPECT_EQ(sheet.find<QDoubleSpinBox>(QStringLiteral("fadeOut"))->value(), 3.0);
    EXPECT_EQ(sheet.find<ColorWell>(QStringLiteral("alphaBackground"))->color(), QColor(Qt::white));
    EXPECT_TRUE(sheet.form.findChild<QLabel*>() != nullptr);
    bool sawFadeTitle = false;
    for (QLabel* label : sheet.form.findChildren<QLabel*>())
        sawFadeTitle |= label->text() == QStringLiteral("Fade in: 2 s");
    EXPECT_TRUE(sawFadeTitle);

    // Apply writes only the sheet's own split and file order.
    EXPECT_EQ(sheet.applyJson(),
              QByteArray(R"({"fileOrder":["file:///in/a.pdf","file:///in/b.pdf"],"split":{"everyPage":{}}})"))
        << sheet.applyJson().constData();

    Sheet plain(everyFieldBut({OptionField::password, OptionField::splitPages, OptionField::mergeOrder}));
    EXPECT_EQ(plain.applyJson(), QByteArray("{}"));
}

TEST(OptionsSheet, EveryKindOfRowWritesWhatTheUserChose)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Sheet sheet(everyFieldBut({OptionField::compressPreset}), QStringLiteral("Protect"),
                {file(QStringLiteral("a.pdf")), file(QStringLiteral("b.pdf")), file(QStringLiteral("c.pdf"))});
    sheet.find<QualitySliderRow>(QStringLiteral("imageQuality"))->slider()->setValue(640);
    sheet.pick(QStringLiteral("maxDimension"), QStringLiteral("1920 px max"));
    sheet.pick(QStringLiteral("resizeScale"), QStringLiteral("25 %")); // clears maxDimension
    sheet.find<ColorWell>(QStringLiteral("alphaBackground"))->chooseColor(QColor(0x12, 0xab, 0xcd));
    sheet.find<QCheckBox>(QStringLiteral("lossless"))->click();
    sheet.segment(QStringLiteral("videoPreset"), 2);
    sheet.pick(QStringLiteral("videoCodec"), QStringLiteral("HEVC (smaller files)"));
    sheet.pick(QStringLiteral("maxResolution"), QStringLiteral("720p"));
    sheet.pick(QStringLiteral("audioBitrate"), QStringLiteral("320 kbps"));
    sheet.pick(QStringLiteral("sampleRate"), QStringLiteral("44.1 kHz"));
    sheet.pick(QStringLiteral("pdfCompression"), QStringLiteral("Strong (100 dpi images)"));
    sheet.pick(QStringLiteral("dpi"), QStringLiteral("150 dpi"));
    sheet.segment(QStringLiteral("pageSize"), 1);
    // Both split rows share the model; the splitPages one decides at Apply.
    sheet.pick(QStringLiteral("splitPages.splitChoice"), QStringLiteral("Page ranges"));
    QLineEdit* ranges = sheet.find<QLineEdit>(QStringLiteral("splitPages.ranges"));
    EXPECT_TRUE(ranges->isVisibleTo(&sheet.form));
    EXPECT_EQ(ranges->placeholderText(), QStringLiteral("1-3, 4-6, 7"));
    keyClicks(ranges, QStringLiteral("1-2, 5-3"));
    sheet.pick(QStringLiteral("splitMedia"), QStringLiteral("4 equal parts"));
    keyClicks(sheet.find<QLineEdit>(QStringLiteral("password")), QStringLiteral("pw"));
    keyClicks(sheet.find<QLineEdit>(QStringLiteral("confirmPassword")), QStringLiteral("pw"));
    sheet.segment(QStringLiteral("rotation.rotation"), 2);
    sheet.find<QCheckBox>(QStringLiteral("flip.flipVertical"))->click();
    sheet.pick(QStringLiteral("speed"), QStringLiteral("0.25×"));
    sheet.find<QDoubleSpinBox>(QStringLiteral("fadeIn"))->stepUp();
    sheet.find<QDoubleSpinBox>(QStringLiteral("fadeOut"))->stepDown();
    QLineEdit* shift = sheet.find<QLineEdit>(QStringLiteral("subtitleShift"));
    shift->selectAll();
    keyClicks(shift, QStringLiteral("1,500"));
    sheet.find<QPushButton>(QStringLiteral("subtitleShift.minus"))->click();
    QLineEdit* time = sheet.find<QLineEdit>(QStringLiteral("snapshotTime"));
    time->selectAll();
    keyClicks(time, QStringLiteral("2.5"));
    sheet.find<ColorWell>(QStringLiteral("backgroundColor.color"))->chooseColor(QColor(0, 0, 0));
    sheet.segment(QStringLiteral("mergeLayout"), 1);
    sheet.find<MergeOrderList>(QStringLiteral("mergeOrder"))->moveFile(2, 0);
    sheet.find<QCheckBox>(QStringLiteral("allSheets"))->click();
    sheet.find<QCheckBox>(QStringLiteral("trimFast"))->click();

    OperationOptions expected;
    expected.quality = 0.64;
    expected.resizeScale = 0.25;
    expected.alphaBackground = QStringLiteral("#12ABCD");
    expected.lossless = true;
    expected.videoPreset = QualityPreset::high;
    expected.videoCodec = VideoCodecChoice::hevc;
    expected.maxResolution = 720;
    expected.audioBitrate = 320;
    expected.sampleRate = 44100;
    expected.pdfCompression = PDFCompressionLevel::high;
    expected.dpi = 150.0;
    expected.pageSize = PageSizeChoice::letter;
    expected.split = SplitMode::ranges({{1, 2}, {3, 5}});
    expected.password = QStringLiteral("pw");
    expected.rotation = 270;
    expected.flipVertical = true;
    expected.speed = 0.25;
    expected.fadeIn = 2.5;
    expected.fadeOut = 2.5;
    expected.subtitleShiftMilliseconds = 500;
    expected.snapshotTime = 2.5;
    expected.backgroundColor = QStringLiteral("#000000");
    expected.mergeLayout = MergeLayout::vertical;
    expected.fileOrder = QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/in/c.pdf")),
                                     QUrl::fromLocalFile(QStringLiteral("/in/a.pdf")),
                                     QUrl::fromLocalFile(QStringLiteral("/in/b.pdf"))};
    expected.allSheets = true;
    expected.fastTrim = true;
    // splitMedia's parts(4) was replaced by the page split at Apply.
    EXPECT_EQ(sheet.applyJson(), encodeOperationOptions(expected).value());
    QLocale::setDefault(QLocale::c());
}

TEST(OptionsSheet, RowsFollowTheModel)
{
    Sheet split({OptionField::splitPages});
    split.pick(QStringLiteral("splitPages.splitChoice"), QStringLiteral("Every N pages"));
    QSpinBox* stepper = split.find<QSpinBox>(QStringLiteral("splitPages.everyN"));
    EXPECT_TRUE(stepper->isVisibleTo(&split.form));
    EXPECT_FALSE(split.find<QLineEdit>(QStringLiteral("splitPages.ranges"))->isVisibleTo(&split.form));
    EXPECT_EQ(stepper->value(), 2);
    stepper->setValue(0);
    EXPECT_EQ(stepper->value(), 1);
    stepper->setValue(900);
    EXPECT_EQ(stepper->value(), 500);
    EXPECT_EQ(split.applyJson(), QByteArray(R"({"split":{"everyNPages":{"_0":500}}})"));

    // A new compress preset drops the chosen quality; a video preset keeps it.
    for (OptionField preset : {OptionField::compressPreset, OptionField::videoPreset}) {
        Sheet sheet({preset, OptionField::imageQuality}, QStringLiteral("Compress"),
                    {file(QStringLiteral("a.jpg"))}, [](const OperationOptions& options) {
                        return options.videoPreset == QualityPreset::small ? 0.6 : 0.72;
                    });
        auto* row = sheet.find<QualitySliderRow>(QStringLiteral("imageQuality"));
        row->slider()->setValue(950);
        sheet.segment(toString(preset), 0);
        if (preset == OptionField::compressPreset) {
            EXPECT_FALSE(sheet.model.options().quality);
            EXPECT_EQ(row->valueText(), QStringLiteral("60 %"));
        } else {
            EXPECT_EQ(sheet.model.options().quality, 0.95);
        }
    }

    Sheet blur({OptionField::backgroundColor});
    auto* toggle = blur.find<QCheckBox>(QStringLiteral("backgroundColor.blur"));
    auto* well = blur.find<ColorWell>(QStringLiteral("backgroundColor.color"));
    toggle->click();
    EXPECT_EQ(blur.model.options().backgroundColor, QStringLiteral("blur"));
    EXPECT_FALSE(well->isVisibleTo(&blur.form));
    toggle->click();
    EXPECT_EQ(blur.model.options().backgroundColor, QStringLiteral("#FFFFFF"));
    EXPECT_TRUE(well->isVisibleTo(&blur.form));

    Sheet one({OptionField::mergeOrder});
    EXPECT_EQ(one.form.findChild<MergeOrderList*>(), nullptr);
    QList<FileInfo> twelve;
    for (int i = 0; i < 12; ++i)
        twelve.append(file(QStringLiteral("%1.pdf").arg(i)));
    Sheet many({OptionField::mergeOrder}, QStringLiteral("Merge"), twelve);
    EXPECT_EQ(many.find<MergeOrderList>(QStringLiteral("mergeOrder"))->height(), 220);

    // A resize remembered in pixels that matches no choice marks none.
    Sheet resize({OptionField::resizeScale});
    resize.model.updateOptions([](OperationOptions& options) { options.maxDimension = 1500; });
    EXPECT_EQ(resize.find<QComboBox>(QStringLiteral("resizeScale"))->currentIndex(), -1);
    resize.pick(QStringLiteral("resizeScale"), QStringLiteral("50 %"));
    EXPECT_EQ(resize.applyJson(), QByteArray(R"({"resizeScale":0.5})"));
}

TEST(OptionsSheet, PasswordRowsGuardApply)
{
    Sheet protect({OptionField::password}, QStringLiteral("Protect PDF"));
    EditorButtons* buttons = protect.form.buttons();
    EXPECT_FALSE(buttons->isActionEnabled());
    QLineEdit* password = protect.find<QLineEdit>(QStringLiteral("password"));
    QLineEdit* confirm = protect.find<QLineEdit>(QStringLiteral("confirmPassword"));
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    keyClicks(password, QStringLiteral("secret"));
    keyClicks(confirm, QStringLiteral("secrex"));
    EXPECT_FALSE(buttons->isActionEnabled());
    buttons->actionButton()->click();
    keyClick(&protect.form, Qt::Key_Return);
    EXPECT_FALSE(protect.applied);
    keyClick(confirm, Qt::Key_Backspace);
    keyClicks(confirm, QStringLiteral("t "));
    EXPECT_FALSE(buttons->isActionEnabled());
    keyClick(confirm, Qt::Key_Backspace);
    EXPECT_TRUE(buttons->isActionEnabled());
    // Typed and deleted: present, empty, and still not enough.
    password->selectAll();
    keyClick(password, Qt::Key_Delete);
    EXPECT_EQ(protect.model.options().password, QString());
    EXPECT_FALSE(buttons->isActionEnabled());

    Sheet unlock({OptionField::password}, QStringLiteral("Unlock"));
    EXPECT_EQ(unlock.form.findChild<QLineEdit*>(QStringLiteral("confirmPassword")), nullptr);
    keyClicks(unlock.find<QLineEdit>(QStringLiteral("password")), QStringLiteral("x"));
    EXPECT_TRUE(unlock.form.buttons()->isActionEnabled());
}

TEST(OptionsSheet, ShownSheetRemembersWithoutThePasswordAndHandsItOn)
{
    test::FakeScreens screens;
    screens.list = {{QRectF(0, 0, 1600, 1000), QRectF(0, 0, 1600, 970)}};
    OperationDescriptor descriptor;
    descriptor.id = QStringLiteral("tool.pdf.protect");
    descriptor.title = QStringLiteral("protect PDF");
    descriptor.verb = QStringLiteral("Protect");
    descriptor.optionFields = {OptionField::password, OptionField::pdfCompression};
    SettingsStore::shared().remove(rememberedOptionsKey(descriptor.id));

    std::optional<OperationOptions> handed;
    int cancels = 0;
    QPointer<EditorWindow> window = showOptionsSheet(
        descriptor, {file(QStringLiteral("a.pdf"))}, OperationOptions{}, true, QPointF(800, 500),
        [&](const OperationOptions& options) { handed = options; }, [&] { ++cancels; }, screens);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Protect PDF"));
    EXPECT_TRUE(openEditorWindows().contains(window.data()));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    keyClicks(window->findChild<QLineEdit*>(QStringLiteral("password")), QStringLiteral("pw"));
    keyClicks(window->findChild<QLineEdit*>(QStringLiteral("confirmPassword")), QStringLiteral("pw"));
    auto* compression = window->findChild<QComboBox*>(QStringLiteral("pdfCompression"));
    Q_EMIT compression->activated(0);
    window->findChild<QCheckBox*>(QStringLiteral("remember"))->click();
    window->findChild<EditorButtons*>()->actionButton()->click();

    ASSERT_TRUE(handed);
    EXPECT_EQ(handed->password, QStringLiteral("pw"));
    EXPECT_EQ(handed->pdfCompression, PDFCompressionLevel::low);
    const OperationOptions remembered = loadRememberedOptions(descriptor.id);
    EXPECT_FALSE(remembered.password);
    EXPECT_EQ(remembered.pdfCompression, PDFCompressionLevel::low);
    EXPECT_EQ(cancels, 0);
    EXPECT_FALSE(openEditorWindows().contains(window.data()));

    // Cancel and Escape run nothing but onCancel, once each.
    for (bool escape : {false, true}) {
        handed.reset();
        QPointer<EditorWindow> other = showOptionsSheet(
            descriptor, {}, OperationOptions{}, false, QPointF(10, 10),
            [&](const OperationOptions& options) { handed = options; }, [&] { ++cancels; }, screens);
        EXPECT_EQ(other->findChild<QCheckBox*>(QStringLiteral("remember")), nullptr);
        if (escape)
            keyClick(other.data(), Qt::Key_Escape);
        else
            other->findChild<EditorButtons*>()->cancelButton()->click();
        EXPECT_FALSE(handed);
        EXPECT_FALSE(openEditorWindows().contains(other.data()));
    }
    EXPECT_EQ(cancels, 2);
    SettingsStore::shared().remove(rememberedOptionsKey(descriptor.id));
}

TEST(OptionsSheet, DefaultQualityFollowsFormatAndPreset)
{
    SettingsSnapshot snapshot;
    snapshot.webpQuality = 85;
    EXPECT_DOUBLE_EQ(snapshotQualityForOutput(ImageOutput::webp, snapshot), 0.85);
    EXPECT_DOUBLE_EQ(snapshotQualityForOutput(ImageOutput::png, snapshot), 1.0);

    OperationDescriptor convert;
    convert.id = QStringLiteral("convert.image.webp");
    EXPECT_DOUBLE_EQ(makeDefaultQuality(convert, {}, snapshot, {})(OperationOptions{}), 0.85);
    convert.id = QStringLiteral("tool.image.resize");
    EXPECT_DOUBLE_EQ(makeDefaultQuality(convert, {}, snapshot, {})(OperationOptions{}), 0.85);

    OperationDescriptor compress;
    compress.id = QStringLiteral("tool.image.compress");
    compress.optionFields = {OptionField::compressPreset, OptionField::imageQuality};
    FileInfo png = file(QStringLiteral("a.png"));
    png.format = formatForExtension(QStringLiteral("png"));
    const auto quality = makeDefaultQuality(compress, {png}, snapshot, {});
    OperationOptions small;
    small.videoPreset = QualityPreset::small;
    EXPECT_DOUBLE_EQ(quality(OperationOptions{}), 0.72);
    EXPECT_DOUBLE_EQ(quality(small), 0.6);

    EXPECT_EQ(optionsSheetSubtitle({}), QStringLiteral("0 files"));
    EXPECT_EQ(optionsSheetWindowTitle(QStringLiteral("convert to PDF")), QStringLiteral("Convert To PDF"));
    EXPECT_EQ(optionsSheetWindowTitle(QStringLiteral("CSV")), QStringLiteral("CSV"));
}
