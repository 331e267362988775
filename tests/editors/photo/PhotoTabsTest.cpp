#include "InstantPhotoServices.h"
#include "editors/photo/Checkerboard.h"
#include "editors/photo/EnginePhotoEditorServices.h"
#include "editors/photo/PhotoAdjustTab.h"
#include "editors/photo/PhotoEditor.h"
#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoEditorView.h"
#include "editors/photo/PhotoExportTab.h"
#include "editors/photo/PhotoLabels.h"
#include "editors/photo/PhotoPreview.h"
#include "editors/photo/PhotoSizeTab.h"
#include "editors/photo/PhotoToggleRow.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <memory>
#include <stdexcept>

using namespace qv;

namespace {

using ImmediateServices = test::InstantPhotoServices;

FileInfo pictureFile(const QString& path)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.name = file.url.fileName();
    return file;
}

struct TabsEditor {
    PhotoEditorModel* model;
    PhotoEditorView view;

    TabsEditor(const QString& name, QSize pixelSize, bool alpha = false,
               std::shared_ptr<PhotoEditorServices> services = std::make_shared<ImmediateServices>(),
               QImage picture = {})
        : model(new PhotoEditorModel(pictureFile(QStringLiteral("/pictures/") + name),
                                     picture.isNull() ? plain(pixelSize) : picture, pixelSize, alpha,
                                     SettingsSnapshot(), 70, std::move(services))),
          view(model, [] {}, [] {})
    {
        model->setParent(&view);
        view.show();
    }

    static QImage plain(QSize pixelSize)
    {
        QImage image(pixelSize.scaled(400, 400, Qt::KeepAspectRatio), QImage::Format_RGB32);
        image.fill(Qt::white);
        return image;
    }
};

QLabel* visibleLabel(QWidget* root, const QString& text)
{
    for (QLabel* label : root->findChildren<QLabel*>())
        if (label->text() == text && label->isVisible())
            return label;
    return nullptr;
}

// Sets the default locale for one test and puts the earlier one back.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_before); }

private:
    QLocale m_before;
};

void commit(QLineEdit* field, const QString& text)
{
    field->setText(text);
    Q_EMIT field->editingFinished();
}

double pointSize(QLabel* made)
{
    const std::unique_ptr<QLabel> label(made);
    return label->font().pointSizeF();
}

const PhotoEditorModel::SizePreset& presetNamed(const QString& name)
{
    for (const PhotoEditorModel::SizePreset& preset : PhotoSizeTab::commonSizes())
        if (preset.name == name)
            return preset;
    throw std::logic_error("no such preset");
}

} // namespace

TEST(PhotoSizeTab, APresetFitsTheFrameToItsShapeAloneAroundWhereItWas)
{
    TabsEditor editor(QStringLiteral("photo.jpg"), QSize(4000, 3000));
    PhotoSizeTab* tab = editor.view.sizeTab();
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    tab->choosePreset(presetNamed(QStringLiteral("Icon")));
    // A 1:1 frame on a 4:3 picture: three quarters wide, pushed to the left edge.
    EXPECT_DOUBLE_EQ(editor.model->crop().width(), 0.75);
    editor.model->setCrop(QRectF(0, 0, 0.75, 1));

    // Width first then height would pass through 1080 × 1024, a frame wider than the old one
    // that the left edge pushes right; fitted once, the new frame keeps the old centre.
    tab->choosePreset(presetNamed(QStringLiteral("Story 9:16")));
    EXPECT_EQ(editor.model->exactWidth(), 1080);
    EXPECT_EQ(editor.model->exactHeight(), 1920);
    const QRectF crop = editor.model->crop();
    EXPECT_NEAR(crop.width(), 0.421875, 1e-12);
    EXPECT_NEAR(crop.height(), 1.0, 1e-12);
    EXPECT_NEAR(crop.center().x(), 0.375, 1e-12);

    // The model's own pair setter does the same.
    editor.model->setExactSize(1024, 1024);
    editor.model->setCrop(QRectF(0, 0, 0.75, 1));
    editor.model->setExactSize(1080, 1920);
    EXPECT_NEAR(editor.model->crop().center().x(), 0.375, 1e-12);
}

TEST(PhotoSizeTab, SwapTurnsTheFrameToTheNewShapeAroundItsCentre)
{
    TabsEditor editor(QStringLiteral("photo.jpg"), QSize(4000, 3000));
    PhotoSizeTab* tab = editor.view.sizeTab();
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    tab->choosePreset(presetNamed(QStringLiteral("Full HD")));
    editor.model->setCrop(QRectF(0, 0, 1, 0.75));
    tab->swapButton()->click();
    EXPECT_EQ(editor.model->exactWidth(), 1080);
    EXPECT_EQ(editor.model->exactHeight(), 1920);
    EXPECT_EQ(tab->widthField()->text(), QLocale().toString(1080));
    const QRectF crop = editor.model->crop();
    EXPECT_NEAR(crop.height(), 1.0, 1e-12);
    EXPECT_NEAR(crop.width(), 0.421875, 1e-12);
    EXPECT_NEAR(crop.center().x(), 0.5, 1e-12);
    tab->swapButton()->click();
    EXPECT_EQ(editor.model->exactWidth(), 1920);
    EXPECT_EQ(editor.model->exactHeight(), 1080);
}

TEST(PhotoSizeTab, NumberFieldsReadAndShowTheLocalesWholeNumbers)
{
    const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    TabsEditor editor(QStringLiteral("photo.jpg"), QSize(4000, 3000));
    PhotoSizeTab* tab = editor.view.sizeTab();
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    EXPECT_EQ(tab->widthField()->text(), QStringLiteral("4.000"));
    EXPECT_EQ(tab->heightField()->text(), QStringLiteral("3.000"));

    QString typed = QStringLiteral("12.345");
    int position = typed.size();
    EXPECT_EQ(tab->widthField()->validator()->validate(typed, position), QValidator::Acceptable);
    commit(tab->widthField(), typed);
    EXPECT_EQ(editor.model->exactWidth(), 12345);
    commit(tab->widthField(), QStringLiteral("20.000"));
    EXPECT_EQ(editor.model->exactWidth(), 16384);
    EXPECT_EQ(tab->widthField()->text(), QStringLiteral("16.384"));
    commit(tab->heightField(), QStringLiteral("0"));
    EXPECT_EQ(editor.model->exactHeight(), 1);
    // Not a number: the value stays and shows again.
    commit(tab->heightField(), QStringLiteral("12,5"));
    EXPECT_EQ(editor.model->exactHeight(), 1);
    EXPECT_EQ(tab->heightField()->text(), QStringLiteral("1"));

    // Any whole number fits the longest side; the copy never grows nor falls under 16 pixels.
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::fit);
    QLineEdit* fit = nullptr;
    for (QLineEdit* field : tab->findChildren<QLineEdit*>())
        if (field->accessibleName() == QStringLiteral("Longest side"))
            fit = field;
    ASSERT_TRUE(fit);
    EXPECT_EQ(fit->text(), QStringLiteral("2.048"));
    typed = QStringLiteral("1.000.000");
    position = typed.size();
    EXPECT_EQ(fit->validator()->validate(typed, position), QValidator::Acceptable);
    commit(fit, typed);
    EXPECT_EQ(editor.model->fitLongest(), 1000000);
    EXPECT_EQ(tab->copyLabel()->text(), QStringLiteral("4000 × 3000 px"));
    commit(fit, QStringLiteral("5"));
    EXPECT_EQ(editor.model->fitLongest(), 5);
    EXPECT_EQ(tab->copyLabel()->text(), QStringLiteral("16 × 12 px"));
    EXPECT_EQ(PhotoSizeTab::readNumber(QStringLiteral("1.920")), 1920);
    EXPECT_FALSE(PhotoSizeTab::readNumber(QStringLiteral("px")).has_value());
}

TEST(PhotoSizeTab, TheModesExplainThemselvesAndTheScaleSliderGlidesToMultiplesOfFive)
{
    TabsEditor editor(QStringLiteral("photo.jpg"), QSize(4000, 3000));
    PhotoSizeTab* tab = editor.view.sizeTab();
    editor.model->setTab(PhotoEditorModel::Tab::size);
    EXPECT_TRUE(visibleLabel(tab, QStringLiteral("The copy keeps the picture's size.")));

    editor.model->setSizeMode(PhotoEditorModel::SizeMode::fit);
    QLabel* smaller = visibleLabel(tab, QStringLiteral("Smaller pictures keep their size."));
    ASSERT_TRUE(smaller);
    EXPECT_EQ(smaller->font().pointSizeF(), pointSize(PhotoLabels::caption()));

    editor.model->setSizeMode(PhotoEditorModel::SizeMode::scale);
    const auto moveTo = [tab](double percent) {
        tab->scaleSlider()->setValue(int(std::lround(percent * PhotoSizeTab::scaleStepsPerPercent)));
    };
    moveTo(97.5);
    EXPECT_EQ(editor.model->scalePercent(), 100);
    EXPECT_EQ(tab->scaleLabel()->text(), QStringLiteral("100 %"));
    moveTo(97.4);
    EXPECT_EQ(editor.model->scalePercent(), 95);
    EXPECT_EQ(tab->scaleLabel()->text(), QStringLiteral("95 %"));
    moveTo(3);
    EXPECT_EQ(tab->scaleLabel()->text(), QStringLiteral("5 %"));
    moveTo(200);
    EXPECT_EQ(tab->scaleLabel()->text(), QStringLiteral("200 %"));
    EXPECT_EQ(tab->copyLabel()->text(), QStringLiteral("8000 × 6000 px"));
}

TEST(PhotoAdjustTab, TheSlidersAreFineEnoughToStopJustPastTheResetThreshold)
{
    TabsEditor editor(QStringLiteral("photo.jpg"), QSize(400, 300));
    PhotoAdjustTab* tab = editor.view.adjustTab();
    QSlider* exposure = tab->slider(0);
    EXPECT_GE(exposure->maximum() - exposure->minimum(), 10000);
    const int neutral = exposure->value();
    // One position of the four-stop exposure range is 0.0004: under the threshold.
    exposure->setValue(neutral + 1);
    EXPECT_NEAR(editor.model->adjustments().exposure, 0.0004, 1e-12);
    EXPECT_FALSE(tab->resetButton(0)->isVisible());
    exposure->setValue(neutral + 5);
    EXPECT_NEAR(editor.model->adjustments().exposure, 0.002, 1e-12);
    EXPECT_TRUE(tab->resetButton(0)->isVisible());
    tab->resetButton(0)->click();
    EXPECT_EQ(editor.model->adjustments().exposure, 0.0);
    EXPECT_EQ(exposure->value(), neutral);
    EXPECT_FALSE(tab->resetButton(0)->isVisible());

    editor.model->setTab(PhotoEditorModel::Tab::exportTab);
    auto* exportTab = editor.view.findChild<PhotoExportTab*>();
    ASSERT_TRUE(exportTab);
    QSlider* quality = exportTab->qualitySlider();
    EXPECT_GE(quality->maximum() - quality->minimum(), 9000);
    quality->setValue(PhotoExportTab::qualitySteps * 7 / 9 + 1);
    EXPECT_NEAR(*editor.model->quality(), 0.8001, 1e-12);
    EXPECT_EQ(exportTab->qualityLabel()->text(), QStringLiteral("80 %"));
}

TEST(PhotoToggleRow, BothTabsShowTheirSwitchesInTheSameTitledRow)
{
    TabsEditor editor(QStringLiteral("photo.jpg"), QSize(400, 300));
    PhotoToggleRow* background = editor.view.adjustTab()->removeRow();
    EXPECT_EQ(background->title(), QStringLiteral("Remove background"));
    EXPECT_EQ(background->symbol(), QStringLiteral("person.and.background.dotted"));
    EXPECT_EQ(background->toggle(), editor.view.adjustTab()->removeSwitch());

    editor.model->setTab(PhotoEditorModel::Tab::exportTab);
    auto* exportTab = editor.view.findChild<PhotoExportTab*>();
    ASSERT_TRUE(exportTab);
    PhotoToggleRow* metadata = exportTab->metadataRow();
    EXPECT_EQ(metadata->title(), QStringLiteral("Remove metadata"));
    EXPECT_EQ(metadata->symbol(), QStringLiteral("eye.slash"));
    EXPECT_TRUE(visibleLabel(metadata, QStringLiteral("Remove metadata")));
    EXPECT_EQ(metadata->toggle()->accessibleName(), QStringLiteral("Remove metadata"));
    EXPECT_TRUE(metadata->toggle()->text().isEmpty());

    const bool before = editor.model->stripMetadata();
    metadata->toggle()->click();
    EXPECT_EQ(editor.model->stripMetadata(), !before);
    // The model's own change shows without being written back as the user's.
    int userChanges = 0;
    QObject::connect(metadata, &PhotoToggleRow::toggled, [&userChanges] { ++userChanges; });
    editor.model->setStripMetadata(before);
    EXPECT_EQ(metadata->toggle()->isChecked(), before);
    EXPECT_EQ(userChanges, 0);
}

TEST(PhotoExportTab, ItsNotesAreCaptionsLikeTheOtherTabs)
{
    TabsEditor editor(QStringLiteral("clear.png"), QSize(400, 300), true);
    editor.model->setTab(PhotoEditorModel::Tab::exportTab);
    auto* tab = editor.view.findChild<PhotoExportTab*>();
    ASSERT_TRUE(tab);
    const double captionSize = pointSize(PhotoLabels::caption());
    ASSERT_LT(captionSize, pointSize(PhotoLabels::secondary()));

    EXPECT_EQ(tab->qualityNote()->text(), QStringLiteral("PNG keeps every pixel, so there is no quality to choose."));
    EXPECT_EQ(tab->qualityNote()->font().pointSizeF(), captionSize);
    QLabel* camera = visibleLabel(tab, QStringLiteral("Camera details, location and dates."));
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->font().pointSizeF(), captionSize);

    editor.model->setFormat(ImageOutput::jpg);
    EXPECT_TRUE(tab->transparencyNote()->isVisible());
    EXPECT_EQ(tab->transparencyNote()->text(),
              QStringLiteral("JPG can't keep transparency: it gets the background color from Settings."));
    EXPECT_EQ(tab->transparencyNote()->font().pointSizeF(), captionSize);
    EXPECT_EQ(tab->losslessNote()->font().pointSizeF(), captionSize);
    EXPECT_EQ(editor.view.sizeTab()->exactCaptionLabel()->font().pointSizeF(), captionSize);
}

TEST(PhotoEditor, ATransparentPngFileShowsOverTheCheckerboard)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clear.png"));
    // Transparent on the left, opaque blue on the right.
    QImage picture(600, 400, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter(&picture).fillRect(300, 0, 300, 400, Qt::blue);
    ASSERT_TRUE(picture.save(path, "PNG"));

    const PhotoEditor::Picture loaded = PhotoEditor::load(pictureFile(path));
    ASSERT_TRUE(loaded.hasAlpha);
    EXPECT_EQ(loaded.pixelSize, QSize(600, 400));
    auto* model = new PhotoEditorModel(pictureFile(path), loaded.preview, loaded.pixelSize, loaded.hasAlpha,
                                       SettingsSnapshot(), loaded.quality,
                                       std::make_shared<EnginePhotoEditorServices>(dir.path()));
    PhotoEditorView view(model, [] {}, [] {});
    model->setParent(&view);
    view.show();
    ASSERT_TRUE(test::waitFor([&] { return !model->rendering() && !model->display().isNull(); }));
    PhotoPreview* preview = view.preview();
    ASSERT_TRUE(preview->showsCheckerboard());

    const QImage shot = preview->grab().toImage();
    const QRect shown = preview->pictureRect();
    // The top left square of the checker is dark; the right half is the opaque picture.
    const QRgb dark = shot.pixel(shown.topLeft() + QPoint(3, 3));
    EXPECT_EQ(qRed(dark), Checkerboard::darkGrey);
    EXPECT_EQ(qGreen(dark), Checkerboard::darkGrey);
    EXPECT_EQ(qBlue(dark), Checkerboard::darkGrey);
    int darkPixels = 0;
    for (int x = shown.left(); x < shown.center().x() - 2; ++x)
        darkPixels += qGray(shot.pixel(x, shown.top() + 3)) == Checkerboard::darkGrey;
    EXPECT_GT(darkPixels, shown.width() / 8);
    const QColor opaque = shot.pixelColor(shown.left() + shown.width() * 3 / 4, shown.center().y());
    EXPECT_EQ(opaque, QColor(Qt::blue));
}
