#include "editors/Checkerboard.h"
#include "editors/CropOverlay.h"
#include "editors/PhotoAdjustTab.h"
#include "editors/PhotoCropTab.h"
#include "editors/PhotoEditor.h"
#include "editors/PhotoEditorModel.h"
#include "editors/PhotoEditorView.h"
#include "editors/PhotoExportTab.h"
#include "editors/PhotoPreview.h"
#include "editors/PhotoSizeTab.h"
#include "platform/ui/EditorButtons.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

using namespace qv;

namespace {

// Renders at once with the colours unchanged; no lifts, no estimates.
class InstantServices : public PhotoEditorServices {
public:
    void render(const QImage& source, const PhotoAdjustments&, const std::optional<QString>&,
                std::function<void(QImage)> done) override
    {
        done(source);
    }
    void liftSubject(const QImage&, std::function<void(std::optional<QImage>, QString)> done) override
    {
        done(std::nullopt, QStringLiteral("No subject found in this image"));
    }
    void estimate(const EstimateRequest&, std::stop_token, std::function<void(std::optional<Estimate>)> done) override
    {
        done(std::nullopt);
    }
    ImageOutput sameFormatOutput(const FileInfo& file) override
    {
        return file.url.path().endsWith(QLatin1String(".png")) ? ImageOutput::png : ImageOutput::jpg;
    }
    double outputQuality(ImageOutput, std::optional<int>, const SettingsSnapshot& settings) override
    {
        return settings.jpegQuality;
    }
};

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
    nearly.exposure = 0.002;
    editor.model->setAdjustments(nearly);
    EXPECT_TRUE(tab->resetButton(0)->isVisible());
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

TEST(PhotoEditor, LoadsAShrunkPreviewWithTheFullSizeAndRefusesWhatIsNoPicture)
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

    for (const QByteArray& bytes : {QByteArray(), QByteArray("not a picture at all"),
                                    QByteArray::fromHex("ffd8ffe000104a464946")}) {
        const QString bad = dir.filePath(QStringLiteral("bad.jpg"));
        QFile out(bad);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(out.write(bytes), bytes.size());
        out.close();
        file.url = QUrl::fromLocalFile(bad);
        EXPECT_ANY_THROW(PhotoEditor::load(file));
    }
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
    EXPECT_EQ(preview->cropFrame()->crop(), editor.model->crop());
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
    EXPECT_EQ(tab->widthField()->text(), QStringLiteral("4000"));
    tab->widthField()->setText(QStringLiteral("0"));
    Q_EMIT tab->widthField()->editingFinished();
    EXPECT_EQ(editor.model->exactWidth(), 1);
    tab->widthField()->setText(QStringLiteral("20000"));
    Q_EMIT tab->widthField()->editingFinished();
    EXPECT_EQ(editor.model->exactWidth(), 16384);
    EXPECT_EQ(tab->widthField()->text(), QStringLiteral("16384"));
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
