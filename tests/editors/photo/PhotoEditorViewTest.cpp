#include "InstantPhotoServices.h"
#include "editors/photo/Checkerboard.h"
#include "widgets/ChipStyle.h"
#include "editors/EditorActivity.h"
#include "editors/CropOverlay.h"
#include "editors/photo/PhotoAdjustTab.h"
#include "editors/photo/PhotoCropTab.h"
#include "editors/photo/PhotoEditor.h"
#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoEditorView.h"
#include "editors/photo/PhotoExportTab.h"
#include "editors/photo/PhotoPreview.h"
#include "editors/photo/PhotoSizeTab.h"
#include "widgets/ColorWell.h"
#include "platform/ui/EditorButtons.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QPointer>
#include <QVariantAnimation>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

using namespace qv;

namespace {

using InstantServices = test::InstantPhotoServices;

FileInfo fileNamed(const QString& name)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(QStringLiteral("/pictures/") + name);
    file.name = name;
    return file;
}

struct Editor {
    PhotoEditorModel* model;
    PhotoEditorView view;
    int cancels = 0;
    int applies = 0;

    Editor(const QString& name, const QImage& picture, QSize pixelSize, bool alpha = false)
        : model(new PhotoEditorModel(fileNamed(name), picture, pixelSize, alpha, SettingsSnapshot(), 70,
                                     std::make_shared<InstantServices>())),
          view(model, [this] { ++cancels; }, [this] { ++applies; })
    {
        model->setParent(&view);
    }
};

void mouse(QWidget* widget, QEvent::Type type)
{
    const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(type, centre, widget->mapToGlobal(centre), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Runs the event loop until the condition holds; false when it never does.
template <typename Condition>
bool eventually(Condition condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

QImage halfRed(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(0, 0, size.width() / 2, size.height(), Qt::red);
    return image;
}

} // namespace

TEST(Checkerboard, DarkSquaresStartAtTheTopLeftAndNarrowStripsStayLight)
{
    EXPECT_EQ(Checkerboard(4).darkSquares(QSizeF(20, 20)), 13);
    EXPECT_EQ(Checkerboard(4).darkSquares(QSizeF(22, 10)), 5);
    EXPECT_EQ(Checkerboard(4).darkSquares(QSizeF(3, 3)), 0);

    QImage image(22, 10, QImage::Format_RGB32);
    image.fill(Qt::blue);
    {
        QPainter painter(&image);
        Checkerboard(4).paint(painter, QRectF(0, 0, 22, 10));
    }
    int dark = 0;
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 5; ++col)
            dark += qGray(image.pixel(col * 4 + 2, row * 4 + 2)) == Checkerboard::darkGrey;
    EXPECT_EQ(dark, 5);
    EXPECT_EQ(qGray(image.pixel(2, 2)), Checkerboard::darkGrey);
    EXPECT_EQ(qGray(image.pixel(6, 2)), Checkerboard::lightGrey);
    EXPECT_EQ(qGray(image.pixel(21, 1)), Checkerboard::lightGrey); // the strip at the right
    EXPECT_EQ(qGray(image.pixel(1, 9)), Checkerboard::lightGrey); // and at the bottom
}

TEST(PhotoEditorView, AnUntouchedPictureShowsFittedWithNothingToSaveOrReset)
{
    EXPECT_EQ(PhotoPreview::fittedSize(QSize(4000, 3000)), QSize(472, 354));
    EXPECT_EQ(PhotoPreview::fittedSize(QSize(100, 100)), QSize(412, 412));
    EXPECT_EQ(PhotoPreview::fittedSize(QSize(0, 0)), QSize(0, 0));

    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4000, 3000));
    EXPECT_EQ(editor.view.preview()->pictureRect().size(), QSize(472, 354));
    EXPECT_EQ(editor.view.preview()->targetRect(QStringLiteral("picture"))->size(), QSizeF(472, 354));
    EXPECT_FALSE(editor.view.buttons()->isActionEnabled());
    EXPECT_FALSE(editor.view.resetAllButton()->isEnabled());
    EXPECT_FALSE(editor.view.preview()->showsCheckerboard());
}

TEST(PhotoEditorView, CompareShowsTheOriginalOnlyWhileHeld)
{
    Editor editor(QStringLiteral("photo.png"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.model->rotateQuarter(true);
    EXPECT_EQ(editor.view.preview()->picture().size(), QSize(300, 400));
    EXPECT_EQ(editor.view.preview()->pictureRect().size(), QSize(309, 412));

    mouse(editor.view.compareButton(), QEvent::MouseButtonPress);
    EXPECT_TRUE(editor.model->comparing());
    EXPECT_EQ(editor.view.preview()->picture().size(), QSize(400, 300));
    mouse(editor.view.compareButton(), QEvent::MouseButtonRelease);
    EXPECT_FALSE(editor.model->comparing());
    EXPECT_EQ(editor.view.preview()->picture().size(), QSize(300, 400));
    EXPECT_EQ(editor.model->recipe().rotation, 90);
}

TEST(PhotoEditorView, TransparentPicturesShowOverTheCheckerUnlessCompared)
{
    QImage clear(200, 200, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    Editor editor(QStringLiteral("clear.png"), clear, QSize(200, 200), true);
    PhotoPreview* preview = editor.view.preview();
    ASSERT_TRUE(preview->showsCheckerboard());
    const QImage shot = preview->grab().toImage();
    const QPoint corner = preview->pictureRect().topLeft() + QPoint(4, 4);
    EXPECT_EQ(qGray(shot.pixel(corner)), Checkerboard::darkGrey);
    editor.model->setComparing(true);
    EXPECT_FALSE(preview->showsCheckerboard());
}

TEST(PhotoAdjustTab, ResetShowsPastAThousandthAndPutsTheNeutralBackExactly)
{
    EXPECT_TRUE(PhotoAdjustTab::showsReset(0.002, 0));
    EXPECT_FALSE(PhotoAdjustTab::showsReset(0.0005, 0));
    EXPECT_FALSE(PhotoAdjustTab::showsReset(1.0005, 1));

    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    PhotoAdjustTab* tab = editor.view.adjustTab();
    EXPECT_FALSE(tab->resetButton(0)->isVisible());

    PhotoAdjustments nearly;
    nearly.exposure = 0.0005;
    editor.model->setAdjustments(nearly);
    EXPECT_FALSE(tab->resetButton(0)->isVisible());
    QApplication::processEvents();
    const int sliderTop = tab->slider(0)->mapTo(tab, QPoint(0, 0)).y();
    const int nextTop = tab->slider(1)->mapTo(tab, QPoint(0, 0)).y();
    nearly.exposure = 0.002;
    editor.model->setAdjustments(nearly);
    EXPECT_TRUE(tab->resetButton(0)->isVisible());
    // Its row keeps its place: nothing below jumps as the button appears.
    QApplication::processEvents();
    EXPECT_EQ(tab->slider(0)->mapTo(tab, QPoint(0, 0)).y(), sliderTop);
    EXPECT_EQ(tab->slider(1)->mapTo(tab, QPoint(0, 0)).y(), nextTop);
    EXPECT_EQ(tab->resetButton(0)->toolTip(), QStringLiteral("Reset exposure"));
    EXPECT_TRUE(editor.view.buttons()->isActionEnabled());
    EXPECT_TRUE(editor.view.resetAllButton()->isEnabled());

    tab->resetButton(0)->click();
    EXPECT_EQ(editor.model->adjustments().exposure, 0.0);
    EXPECT_FALSE(tab->resetButton(0)->isVisible());
    EXPECT_FALSE(editor.view.buttons()->isActionEnabled());

    // The contrast slider's far end is its range's top.
    tab->slider(1)->setValue(PhotoAdjustTab::steps);
    EXPECT_DOUBLE_EQ(editor.model->adjustments().contrast, 1.5);
    EXPECT_TRUE(tab->resetButton(1)->isVisible());
    ASSERT_TRUE(editor.model->recipe().photo.has_value());
    EXPECT_DOUBLE_EQ(editor.model->recipe().photo->contrast, 1.5);

    editor.view.resetAllButton()->click();
    EXPECT_TRUE(editor.model->adjustments().isNeutral());
    EXPECT_EQ(tab->slider(1)->value(), PhotoAdjustTab::steps / 2);
}

TEST(PhotoAdjustTab, AFailedLiftTurnsTheSwitchBackOffWithItsMessage)
{
    Editor editor(QStringLiteral("flat.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    PhotoAdjustTab* tab = editor.view.adjustTab();
    tab->removeSwitch()->click();
    EXPECT_FALSE(editor.model->removeBackground());
    EXPECT_FALSE(tab->removeSwitch()->isChecked());
    EXPECT_TRUE(tab->errorLabel()->isVisible());
    EXPECT_TRUE(tab->errorLabel()->text().contains(QStringLiteral("No subject found in this image")));
}

TEST(PhotoEditor, LoadsAShrunkPreviewWithTheFullSizeAndQualityAndRefusesWhatIsNoPicture)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.png"));
    QImage big(3000, 1500, QImage::Format_ARGB32);
    big.fill(QColor(0, 0, 255, 128));
    ASSERT_TRUE(big.save(path));
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.name = QStringLiteral("big.png");
    const PhotoEditor::Picture picture = PhotoEditor::load(file);
    EXPECT_EQ(picture.pixelSize, QSize(3000, 1500));
    EXPECT_EQ(picture.preview.size(), QSize(1400, 700));
    EXPECT_TRUE(picture.hasAlpha);
    EXPECT_FALSE(picture.quality.has_value());

    const QString jpeg = dir.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(halfRed(QSize(400, 300)).save(jpeg, "JPEG", 70));
    file.url = QUrl::fromLocalFile(jpeg);
    const PhotoEditor::Picture photo = PhotoEditor::load(file);
    EXPECT_FALSE(photo.hasAlpha);
    EXPECT_EQ(photo.quality, 70);

    const QString bad = dir.filePath(QStringLiteral("bad.jpg"));
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write("not a picture at all"), 20);
    out.close();
    file.url = QUrl::fromLocalFile(bad);
    EXPECT_ANY_THROW(PhotoEditor::load(file));
}

TEST(PhotoCropTab, ASquareStartsCentredAndTurnsFollowThePicture)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4000, 3000));
    PhotoCropTab* tab = editor.view.cropTab();
    EXPECT_EQ(tab->sizeLabel()->text(), QStringLiteral("4000 × 3000 px"));
    EXPECT_FALSE(tab->resetButton()->isEnabled());

    tab->choose(AspectPreset::square);
    EXPECT_EQ(editor.model->pixelCropRect(), QRect(650, 150, 2700, 2700));
    EXPECT_EQ(tab->sizeLabel()->text(), QStringLiteral("2700 × 2700 px"));
    EXPECT_TRUE(tab->resetButton()->isEnabled());
    tab->choose(AspectPreset::free); // only lifts the shape
    EXPECT_EQ(editor.model->pixelCropRect(), QRect(650, 150, 2700, 2700));

    tab->resetButton()->click();
    EXPECT_FALSE(editor.model->isGeometryEdited());
    for (QPushButton* button : tab->findChildren<QPushButton*>())
        if (button->toolTip() == QStringLiteral("Rotate right"))
            button->click();
    EXPECT_EQ(tab->sizeLabel()->text(), QStringLiteral("3000 × 4000 px"));
    const OperationOptions recipe = editor.model->recipe();
    EXPECT_EQ(recipe.rotation, 90);
    EXPECT_FALSE(recipe.cropRect.has_value());
    EXPECT_TRUE(editor.view.buttons()->isActionEnabled());
}

TEST(PhotoPreview, TheCropTabShowsTheWholePictureUnderTheFrameAndOthersTheCut)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4000, 3000));
    editor.view.show();
    PhotoPreview* preview = editor.view.preview();
    EXPECT_FALSE(preview->showsCropFrame());
    editor.model->setTab(PhotoEditorModel::Tab::crop);
    ASSERT_TRUE(preview->cropFrame());
    EXPECT_TRUE(preview->cropFrame()->isVisible());
    editor.view.cropTab()->choose(AspectPreset::square);
    // The frame springs to the shape's start.
    EXPECT_TRUE(eventually([&] { return preview->cropFrame()->crop() == editor.model->crop(); }));
    EXPECT_EQ(preview->pictureRect().size(), QSize(472, 354));

    // Moving the frame moves the model's crop.
    preview->cropFrame()->setCrop(QRectF(0, 0, 0.5, 0.5));
    EXPECT_EQ(editor.model->crop(), QRectF(0, 0, 0.5, 0.5));

    editor.model->rotateQuarter(true);
    EXPECT_EQ(preview->cropFrame()->size(), QSize(309, 412));

    editor.model->setTab(PhotoEditorModel::Tab::adjust);
    EXPECT_FALSE(preview->cropFrame()->isVisible());
    EXPECT_EQ(preview->pictureSize(), editor.model->outputPixelSize());
    editor.model->setTab(PhotoEditorModel::Tab::crop);
    editor.model->setComparing(true);
    EXPECT_FALSE(preview->cropFrame()->isVisible());
}

TEST(PhotoSizeTab, ScalesAndSidesAreKeptWithinTheirLimits)
{
    EXPECT_EQ(PhotoSizeTab::storedScale(97.5), 100);
    EXPECT_EQ(PhotoSizeTab::storedScale(97.4), 95);
    EXPECT_EQ(PhotoSizeTab::storedScale(1), 5);
    EXPECT_EQ(PhotoSizeTab::storedSide(0), 1);
    EXPECT_EQ(PhotoSizeTab::storedSide(20000), 16384);
    EXPECT_EQ(PhotoSizeTab::storedSide(800), 800);

    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4000, 3000));
    PhotoSizeTab* tab = editor.view.sizeTab();
    EXPECT_EQ(tab->copyLabel()->text(), QStringLiteral("4000 × 3000 px"));
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::scale);
    EXPECT_EQ(tab->copyLabel()->text(), QStringLiteral("2000 × 1500 px"));
    EXPECT_EQ(editor.model->recipe().maxDimension, 2000);

    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    EXPECT_EQ(tab->widthField()->text(), QLocale().toString(4000));
    tab->widthField()->setText(QStringLiteral("0"));
    Q_EMIT tab->widthField()->editingFinished();
    EXPECT_EQ(editor.model->exactWidth(), 1);
    tab->widthField()->setText(QStringLiteral("20000"));
    Q_EMIT tab->widthField()->editingFinished();
    EXPECT_EQ(editor.model->exactWidth(), 16384);
    EXPECT_EQ(tab->widthField()->text(), QLocale().toString(16384));
}

TEST(PhotoExportTab, TheFileOwnFormatLeadsTheMenuAndLosslessFormatsHaveNoQuality)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    editor.model->setTab(PhotoEditorModel::Tab::exportTab);
    auto* tab = editor.view.findChild<PhotoExportTab*>();
    ASSERT_TRUE(tab);
    EXPECT_EQ(tab->formatMenu()->currentText(), QStringLiteral("JPG, like the original"));
    EXPECT_FALSE(tab->qualityNote()->isVisible());
    EXPECT_EQ(PhotoExportTab::exportFormats().mid(0, 3), (QList<ImageOutput>{ImageOutput::jpg, ImageOutput::png, ImageOutput::heic}));

    editor.model->setFormat(ImageOutput::png);
    EXPECT_EQ(tab->formatMenu()->currentText(), QStringLiteral("PNG"));
    EXPECT_TRUE(tab->qualityNote()->isVisible());
    EXPECT_EQ(tab->qualityNote()->text(), QStringLiteral("PNG keeps every pixel, so there is no quality to choose."));
    EXPECT_EQ(editor.model->recipe().outputFormat, QStringLiteral("png"));
}

TEST(PhotoSizeTab, ReturnInANumberFieldIsTheFieldsAndNotSaveCopys)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    QKeyEvent returnKey(QEvent::ShortcutOverride, Qt::Key_Return, Qt::NoModifier);
    returnKey.ignore();
    QApplication::sendEvent(editor.view.sizeTab()->widthField(), &returnKey);
    EXPECT_TRUE(returnKey.isAccepted());
}

TEST(PhotoEditorView, AWidthTypedButNotCommittedIsSavedAndResetAllStillResets)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    QApplication::setActiveWindow(&editor.view);
    editor.model->setTab(PhotoEditorModel::Tab::size);
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    editor.model->setExactWidth(300);
    QLineEdit* width = editor.view.sizeTab()->widthField();
    width->setFocus();
    width->setText(QStringLiteral("200"));
    editor.view.buttons()->actionButton()->click();
    EXPECT_EQ(editor.applies, 1);
    EXPECT_EQ(editor.model->exactWidth(), 200);

    // Typed again, then Reset All: the reset is what stays.
    width->setFocus();
    width->setText(QStringLiteral("120"));
    editor.view.resetAllButton()->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(editor.model->exactWidth(), 0);
    EXPECT_EQ(editor.model->sizeMode(), PhotoEditorModel::SizeMode::original);
}

namespace {

// Holds each lift until the test answers it.
class HeldLiftServices : public InstantServices {
public:
    void liftSubject(const QImage& picture, std::function<void(std::optional<QImage>, QString)> done) override
    {
        held = std::move(done);
        lifted = picture;
    }
    std::function<void(std::optional<QImage>, QString)> held;
    QImage lifted;
};

// Sets the reduce-motion override for the life of the object.
class ReducedMotion {
public:
    ReducedMotion() { qputenv("QUORVENDA_REDUCE_MOTION", "1"); }
    ~ReducedMotion() { qunsetenv("QUORVENDA_REDUCE_MOTION"); }
};

QPushButton* buttonTitled(QWidget* root, const QString& title)
{
    for (QPushButton* button : root->findChildren<QPushButton*>())
        if (button->toolTip() == title || button->text() == title)
            return button;
    return nullptr;
}

// Lets the queued start of a spring run.
QVariantAnimation* startedMotion(PhotoPreview* preview)
{
    for (int i = 0; i < 20 && !preview->motion(); ++i)
        QCoreApplication::processEvents();
    return preview->motion();
}

} // namespace

TEST(PhotoEditorView, UnderReducedMotionATurnShowsTheTurnedPictureAtOnce)
{
    const ReducedMotion reduced;
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    editor.model->setTab(PhotoEditorModel::Tab::crop);
    buttonTitled(editor.view.cropTab(), QStringLiteral("Rotate right"))->click();
    PhotoPreview* preview = editor.view.preview();
    EXPECT_EQ(preview->spin(), 0.0);
    EXPECT_EQ(preview->picture().size(), QSize(300, 400));
    EXPECT_EQ(startedMotion(preview), nullptr);
    EXPECT_EQ(EditorActivity::count(), 0);
    ASSERT_TRUE(preview->cropFrame());
    EXPECT_TRUE(preview->cropFrame()->isVisible());

    buttonTitled(editor.view.cropTab(), QStringLiteral("Flip vertically"))->click();
    EXPECT_EQ(preview->mirror(), QSizeF(1, 1));
    EXPECT_EQ(startedMotion(preview), nullptr);
    EXPECT_TRUE(editor.model->flipVertical());
}

TEST(PhotoEditorView, ATurnSpringsFromTheOldOrientationIntoTheNewOne)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    editor.model->setTab(PhotoEditorModel::Tab::crop);
    PhotoPreview* preview = editor.view.preview();
    buttonTitled(editor.view.cropTab(), QStringLiteral("Rotate right"))->click();

    // The model has turned; the preview still shows the old orientation, the red half on the left.
    EXPECT_EQ(editor.model->rotation(), 90);
    EXPECT_EQ(preview->picture().size(), QSize(300, 400));
    EXPECT_EQ(preview->spin(), -90.0);
    EXPECT_FALSE(preview->cropFrame() && preview->cropFrame()->isVisible());
    EXPECT_GT(EditorActivity::count(), 0);
    const QImage before = preview->grab().toImage();
    EXPECT_EQ(before.pixelColor(250 - 150, 220), QColor(Qt::red));
    EXPECT_EQ(before.pixelColor(250 + 150, 220), QColor(Qt::white));

    QVariantAnimation* motion = startedMotion(preview);
    ASSERT_NE(motion, nullptr);
    motion->setCurrentTime(motion->duration() / 8);
    EXPECT_GT(preview->spin(), -90.0);
    EXPECT_LT(preview->spin(), 0.0);
    motion->setCurrentTime(motion->duration());
    EXPECT_EQ(preview->spin(), 0.0);
    EXPECT_EQ(preview->motion(), nullptr);
    EXPECT_EQ(EditorActivity::count(), 0);
    ASSERT_TRUE(preview->cropFrame());
    EXPECT_TRUE(preview->cropFrame()->isVisible());
    // At rest the turned picture stands upright: red on top.
    const QImage after = preview->grab().toImage();
    EXPECT_EQ(after.pixelColor(250, 220 - 150), QColor(Qt::red));
    EXPECT_EQ(after.pixelColor(250, 220 + 150), QColor(Qt::white));
}

TEST(PhotoEditorView, AMirrorSpringsBackToRestAndReachesIt)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    editor.model->setTab(PhotoEditorModel::Tab::crop);
    PhotoPreview* preview = editor.view.preview();
    buttonTitled(editor.view.cropTab(), QStringLiteral("Flip horizontally"))->click();
    EXPECT_TRUE(editor.model->flipHorizontal());
    EXPECT_EQ(preview->mirror(), QSizeF(-1, 1));
    // Mirrored back on screen, the red half still shows on the left.
    EXPECT_EQ(preview->grab().toImage().pixelColor(250 - 150, 220), QColor(Qt::red));
    ASSERT_NE(startedMotion(preview), nullptr);
    EXPECT_TRUE(eventually([&] { return preview->motion() == nullptr; }));
    EXPECT_EQ(preview->mirror(), QSizeF(1, 1));
    EXPECT_EQ(preview->grab().toImage().pixelColor(250 + 150, 220), QColor(Qt::red));
}

TEST(PhotoEditorView, ResetAllSpringsTheFrameWhileTheModelChangesAtOnce)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4000, 3000));
    editor.view.show();
    editor.model->setTab(PhotoEditorModel::Tab::crop);
    editor.view.cropTab()->chip(AspectPreset::square)->click();
    PhotoPreview* preview = editor.view.preview();
    ASSERT_TRUE(eventually([&] { return preview->cropFrame()->crop() == editor.model->crop(); }));

    editor.view.resetAllButton()->click();
    EXPECT_EQ(editor.model->crop(), QRectF(0, 0, 1, 1));
    EXPECT_NE(preview->cropFrame()->crop(), QRectF(0, 0, 1, 1));
    EXPECT_EQ(editor.model->tab(), PhotoEditorModel::Tab::crop);
    // The frame's steps on the way never reach the model.
    bool stayed = true;
    EXPECT_TRUE(eventually([&] {
        stayed = stayed && editor.model->crop() == QRectF(0, 0, 1, 1);
        return preview->cropFrame()->crop() == QRectF(0, 0, 1, 1);
    }));
    EXPECT_TRUE(stayed);
    // A drag afterwards is the user's again.
    preview->cropFrame()->setCrop(QRectF(0.1, 0.1, 0.5, 0.5));
    EXPECT_EQ(editor.model->crop(), QRectF(0.1, 0.1, 0.5, 0.5));
}

TEST(PhotoEditorView, FindingTheSubjectShowsABusyPanelAndHoldsSaveCopy)
{
    auto services = std::make_shared<HeldLiftServices>();
    auto* model = new PhotoEditorModel(fileNamed(QStringLiteral("disc.jpg")), halfRed(QSize(400, 300)), QSize(400, 300),
                                       false, SettingsSnapshot(), 70, services);
    PhotoEditorView view(model, [] {}, [] {});
    model->setParent(&view);
    view.show();
    view.adjustTab()->removeSwitch()->click();
    ASSERT_TRUE(services->held);
    EXPECT_TRUE(view.preview()->busyPanel()->isVisible());
    EXPECT_TRUE(view.preview()->busyPanel()->findChild<QLabel*>()->text() == QStringLiteral("Finding the subject…"));
    EXPECT_FALSE(view.buttons()->isActionEnabled());
    EXPECT_FALSE(view.adjustTab()->removeSwitch()->isEnabled());
    EXPECT_EQ(EditorActivity::count(), 1);

    QImage cut(400, 300, QImage::Format_ARGB32);
    cut.fill(Qt::transparent);
    services->held(cut, {});
    EXPECT_FALSE(view.preview()->busyPanel()->isVisible());
    EXPECT_TRUE(view.buttons()->isActionEnabled());
    EXPECT_EQ(EditorActivity::count(), 0);
    EXPECT_TRUE(view.preview()->showsCheckerboard());

    // A second time needs no lift.
    services->held = nullptr;
    view.adjustTab()->removeSwitch()->click();
    view.adjustTab()->removeSwitch()->click();
    EXPECT_FALSE(services->held);
    EXPECT_FALSE(view.preview()->busyPanel()->isVisible());
}

TEST(ChipStyle, AChosenChipIsAccentFilledAndOthersFaintDarkeningWhenPressed)
{
    QPalette palette;
    palette.setColor(QPalette::Highlight, QColor(10, 100, 200));
    palette.setColor(QPalette::WindowText, Qt::black);
    ChipStyle chosen(true);
    EXPECT_EQ(chosen.fill(palette, false), QColor(10, 100, 200));
    EXPECT_EQ(chosen.textColor(palette), QColor(Qt::white));
    ChipStyle other(false);
    EXPECT_NEAR(other.fill(palette, false).alphaF(), 0.08, 0.005);
    EXPECT_NEAR(other.fill(palette, true).alphaF(), 0.16, 0.005);
    EXPECT_EQ(other.textColor(palette), QColor(Qt::black));
    EXPECT_EQ(ChipStyle::opacity(false), 0.4);

    QPushButton chip(QStringLiteral("1:1"));
    chip.setPalette(palette);
    ChipStyle style(true);
    chip.setStyle(&style);
    chip.resize(60, 26);
    EXPECT_GE(chip.sizeHint().height(), ChipStyle::minimumHeight);
    const QImage selected = chip.grab().toImage();
    EXPECT_EQ(selected.pixelColor(4, 13), QColor(10, 100, 200));
    chip.setEnabled(false);
    // At 40 % over the window's own colour.
    const QColor faded = chip.grab().toImage().pixelColor(4, 13);
    const QColor under = chip.palette().color(QPalette::Window);
    EXPECT_NEAR(faded.red(), 0.4 * 10 + 0.6 * under.red(), 3);
    EXPECT_NEAR(faded.green(), 0.4 * 100 + 0.6 * under.green(), 3);
    EXPECT_NEAR(faded.blue(), 0.4 * 200 + 0.6 * under.blue(), 3);
    chip.setStyle(nullptr);
}

TEST(PhotoCropTab, AnExactShapeDisablesTheChipsAndSaysSo)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4000, 3000));
    editor.view.show();
    PhotoCropTab* tab = editor.view.cropTab();
    editor.model->setTab(PhotoEditorModel::Tab::crop);
    EXPECT_TRUE(tab->chipSelected(AspectPreset::free));
    EXPECT_FALSE(tab->shapeNoteLabel()->isVisible());
    tab->chip(AspectPreset::wide)->click();
    EXPECT_TRUE(tab->chipSelected(AspectPreset::wide));
    EXPECT_FALSE(tab->chipSelected(AspectPreset::free));
    buttonTitled(tab, QStringLiteral("Rotate right"))->click();
    EXPECT_TRUE(tab->chipSelected(AspectPreset::free)); // 16:9 does not survive a turn
    tab->chip(AspectPreset::square)->click();
    buttonTitled(tab, QStringLiteral("Rotate right"))->click();
    EXPECT_TRUE(tab->chipSelected(AspectPreset::square));

    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    editor.model->setExactWidth(1080);
    editor.model->setExactHeight(1350);
    ASSERT_TRUE(editor.model->exactShapeRatio());
    for (AspectPreset preset : allCases<AspectPreset>()) {
        EXPECT_FALSE(tab->chipSelected(preset));
        EXPECT_FALSE(tab->chip(preset)->isEnabled());
    }
    EXPECT_TRUE(tab->shapeNoteLabel()->isVisible());
    EXPECT_EQ(tab->shapeNoteLabel()->text(),
              QStringLiteral("The frame keeps the shape of the exact size, 1080\u00A0×\u00A01350\u00A0px."));
    const QRectF before = editor.model->crop();
    tab->choose(AspectPreset::wide);
    EXPECT_EQ(editor.model->crop(), before);
    EXPECT_EQ(PhotoCropTab::pixelSizeText(QSizeF(2700.9, 1519.5)), QStringLiteral("2700 × 1519 px"));
}

TEST(ColorWell, AnotherColorOffersNoOpacityAndGivesAnOpaqueColour)
{
    ColorWell well;
    well.setShape(ColorWell::Shape::round);
    QList<QColor> chosen;
    QObject::connect(&well, &ColorWell::colorChosen, [&](const QColor& color) { chosen.append(color); });
    QPointer<QColorDialog> dialog = well.openChooser();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->testOption(QColorDialog::ShowAlphaChannel));
    dialog->setCurrentColor(QColor(20, 40, 60, 90));
    dialog->accept();
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen.first(), QColor(20, 40, 60));
    EXPECT_EQ(chosen.first().alpha(), 255);
    EXPECT_EQ(well.color(), QColor(20, 40, 60));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog);

    // A fixed swatch opens nothing; its ring follows the selection.
    ColorWell swatch;
    swatch.setShape(ColorWell::Shape::round);
    swatch.setOpensChooser(false);
    swatch.setColor(Qt::black);
    swatch.click();
    EXPECT_TRUE(swatch.findChildren<QColorDialog*>().isEmpty());
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_TRUE(std::none_of(windows.begin(), windows.end(),
                             [](QWidget* w) { return qobject_cast<QColorDialog*>(w) && w->isVisible(); }));
    EXPECT_EQ(swatch.sizeHint(), QSize(ColorWell::discSide + 4, ColorWell::discSide + 4));
}

TEST(PhotoAdjustTab, TheSwatchesChooseWhatGoesBehindTheSubject)
{
    QImage cut(400, 300, QImage::Format_ARGB32);
    cut.fill(Qt::transparent);
    auto services = std::make_shared<HeldLiftServices>();
    auto* model = new PhotoEditorModel(fileNamed(QStringLiteral("photo.jpg")), halfRed(QSize(400, 300)), QSize(400, 300),
                                       false, SettingsSnapshot(), 70, services);
    PhotoEditorView view(model, [] {}, [] {});
    model->setParent(&view);
    view.show();
    PhotoAdjustTab* tab = view.adjustTab();
    EXPECT_FALSE(tab->fillRow()->isVisible());
    tab->removeSwitch()->click();
    services->held(cut, {});
    ASSERT_TRUE(tab->fillRow()->isVisible());
    EXPECT_EQ(tab->swatch(0)->toolTip(), QStringLiteral("Transparent"));
    EXPECT_TRUE(tab->swatch(0)->isSelected());
    EXPECT_EQ(tab->colorWell()->toolTip(), QStringLiteral("Another color"));
    EXPECT_EQ(tab->colorWell()->color(), QColor(Qt::white));
    // Transparency on a JPEG makes the copy a PNG.
    EXPECT_EQ(model->format(), ImageOutput::png);

    tab->swatch(1)->click();
    EXPECT_EQ(model->fillHex(), QStringLiteral("#FFFFFF"));
    EXPECT_TRUE(tab->swatch(1)->isSelected());
    EXPECT_FALSE(tab->swatch(0)->isSelected());
    tab->colorWell()->chooseColor(Qt::white);
    EXPECT_TRUE(tab->swatch(1)->isSelected());
    tab->colorWell()->chooseColor(QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(model->fillHex(), QStringLiteral("#123456"));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(tab->swatch(i)->isSelected());
    EXPECT_EQ(tab->colorWell()->color(), QColor(0x12, 0x34, 0x56));
    tab->swatch(2)->click();
    EXPECT_EQ(model->fillHex(), QStringLiteral("#000000"));
    EXPECT_FALSE(view.preview()->showsCheckerboard());
}

TEST(PhotoSizeTab, SwapPresetsAndTheFitMenuSetTheSizes)
{
    EXPECT_EQ(PhotoSizeTab::commonLongestSides().size(), 11);
    EXPECT_EQ(PhotoSizeTab::commonSizes().size(), 10);
    EXPECT_EQ(PhotoSizeTab::presetTitle(PhotoSizeTab::commonSizes()[1]), QStringLiteral("1080 × 1350 · Portrait 4:5"));

    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4000, 3000));
    editor.view.show();
    PhotoSizeTab* tab = editor.view.sizeTab();
    editor.model->setTab(PhotoEditorModel::Tab::size);
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::fit);
    ASSERT_EQ(tab->fitMenu()->actions().size(), 11);
    EXPECT_EQ(tab->fitMenu()->actions()[3]->text(), QStringLiteral("1920 px"));
    tab->fitMenu()->actions()[3]->trigger();
    EXPECT_EQ(editor.model->fitLongest(), 1920);
    EXPECT_EQ(tab->copyLabel()->text(), QStringLiteral("1920 × 1440 px"));

    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    EXPECT_EQ(editor.model->exactWidth(), 4000);
    tab->sizeMenu()->actions()[2]->trigger(); // Story 9:16
    EXPECT_EQ(editor.model->exactWidth(), 1080);
    EXPECT_EQ(editor.model->exactHeight(), 1920);
    editor.model->setExactWidth(1920);
    editor.model->setExactHeight(1080);
    tab->swapButton()->click();
    EXPECT_EQ(editor.model->exactWidth(), 1080);
    EXPECT_EQ(editor.model->exactHeight(), 1920);
    EXPECT_EQ(tab->widthField()->text(), QLocale().toString(1080));
    tab->swapButton()->click();
    EXPECT_EQ(editor.model->exactWidth(), 1920);
    EXPECT_EQ(editor.model->exactHeight(), 1080);
    EXPECT_EQ(tab->swapButton()->toolTip(), QStringLiteral("Swap width and height"));
}

TEST(PhotoSizeTab, TheExactCaptionTellsWhatHappensToThePicture)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(1400, 1050)), QSize(4032, 3024));
    editor.view.show();
    editor.model->setTab(PhotoEditorModel::Tab::size);
    PhotoSizeTab* tab = editor.view.sizeTab();
    EXPECT_FALSE(tab->croppedLabel()->isVisible());
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::exact);
    EXPECT_EQ(editor.model->exactWidth(), 4032);
    EXPECT_EQ(editor.model->exactHeight(), 3024);
    // The crop fit imposes the shape, so the frame shows.
    EXPECT_EQ(tab->exactCaptionLabel()->text(), QStringLiteral("Drag the frame to choose what stays. The rest is cut off."));
    EXPECT_TRUE(editor.view.preview()->showsCropFrame());

    editor.model->setExactFit(PhotoEditorModel::ExactFit::stretch);
    EXPECT_FALSE(editor.view.preview()->showsCropFrame());
    EXPECT_EQ(tab->exactCaptionLabel()->text(), QStringLiteral("The picture already has this shape."));
    editor.model->setExactWidth(4033);
    EXPECT_EQ(tab->exactCaptionLabel()->text(), QStringLiteral("The picture already has this shape."));
    editor.model->setExactWidth(1080);
    editor.model->setExactHeight(1080);
    EXPECT_EQ(tab->exactCaptionLabel()->text(), QStringLiteral("The whole picture is stretched to the new shape."));
    EXPECT_EQ(tab->copyLabel()->text(), QStringLiteral("1080 × 1080 px"));
    EXPECT_EQ(editor.view.preview()->pictureRect().size(), QSize(412, 412));

    editor.model->setExactFit(PhotoEditorModel::ExactFit::crop);
    EXPECT_EQ(tab->exactCaptionLabel()->text(), QStringLiteral("Drag the frame to choose what stays. The rest is cut off."));
    EXPECT_TRUE(tab->croppedLabel()->isVisible());
    EXPECT_EQ(tab->croppedLabel()->text(), PhotoCropTab::pixelSizeText(editor.model->pixelCropRect().size()));

    // A fit below 16 makes a 16-pixel copy; one above the picture keeps its size.
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::original);
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::fit);
    editor.model->setFitLongest(5);
    EXPECT_EQ(editor.model->outputPixelSize().width(), 16);
    editor.model->setFitLongest(100000);
    EXPECT_EQ(editor.model->outputPixelSize(), editor.model->pixelCropRect().size());
}

TEST(PhotoSizeTab, TheCommonSizesMenuOpensWithoutHoldingTheCaller)
{
    Editor editor(QStringLiteral("photo.jpg"), halfRed(QSize(400, 300)), QSize(400, 300));
    editor.view.show();
    editor.model->setTab(PhotoEditorModel::Tab::size);
    editor.model->setSizeMode(PhotoEditorModel::SizeMode::fit);
    QToolButton* chevron = nullptr;
    for (QToolButton* button : editor.view.sizeTab()->findChildren<QToolButton*>())
        if (button->toolTip() == QStringLiteral("Common sizes") && button->isVisible())
            chevron = button;
    ASSERT_TRUE(chevron);
    chevron->click();
    EXPECT_TRUE(editor.view.sizeTab()->fitMenu()->isVisible());
    editor.view.sizeTab()->fitMenu()->actions().last()->trigger();
    editor.view.sizeTab()->fitMenu()->hide();
    EXPECT_EQ(editor.model->fitLongest(), 512);
}

TEST(PhotoAdjustTab, ALiftThatFindsNothingTurnsOnlyTheSwitchBackOff)
{
    auto services = std::make_shared<HeldLiftServices>();
    auto* model = new PhotoEditorModel(fileNamed(QStringLiteral("flat.jpg")), halfRed(QSize(400, 300)), QSize(400, 300),
                                       false, SettingsSnapshot(), 70, services);
    PhotoEditorView view(model, [] {}, [] {});
    model->setParent(&view);
    view.show();
    view.adjustTab()->removeSwitch()->click();
    ASSERT_TRUE(services->held);
    // While the lift runs the copy is already headed for PNG.
    EXPECT_EQ(model->format(), ImageOutput::png);
    EXPECT_TRUE(model->switchedToPNG());

    services->held(std::nullopt, QStringLiteral("No subject found in this image"));
    EXPECT_FALSE(model->removeBackground());
    EXPECT_TRUE(view.adjustTab()->errorLabel()->isVisible());
    // Nothing else changes: the PNG stays chosen, so there is a copy to save, and Reset All
    // takes it back.
    EXPECT_EQ(model->format(), ImageOutput::png);
    EXPECT_TRUE(model->switchedToPNG());
    EXPECT_TRUE(view.buttons()->isActionEnabled());
    view.resetAllButton()->click();
    EXPECT_FALSE(model->format().has_value());
    EXPECT_FALSE(view.buttons()->isActionEnabled());

    // A format the user chose stays chosen.
    model->setFormat(ImageOutput::tiff);
    view.adjustTab()->removeSwitch()->click();
    services->held(std::nullopt, QStringLiteral("No subject found in this image"));
    EXPECT_EQ(model->format(), ImageOutput::tiff);
}
