#include "editors/photo/PhotoEditorModel.h"

#include <gtest/gtest.h>

#include <QUrl>

using namespace qv;

namespace {

// Engines that answer at once, and a clock moved by hand.
class FakeServices : public PhotoEditorServices {
public:
    struct Pending {
        qint64 due;
        std::function<void()> function;
    };
    qint64 now = 0;
    QList<Pending> timers;
    QList<EstimateRequest> estimates;
    std::optional<QString> liftFailure;
    int renders = 0;

    void after(int ms, QObject*, std::function<void()> function) override
    {
        timers.append({now + ms, std::move(function)});
    }
    void advance(qint64 ms)
    {
        now += ms;
        for (int i = 0; i < timers.size();) {
            if (timers[i].due <= now) {
                const auto function = timers.takeAt(i).function;
                function();
            } else {
                ++i;
            }
        }
    }
    void render(const QImage& source, const PhotoAdjustments&, const std::optional<QString>&,
                std::function<void(QImage)> done) override
    {
        ++renders;
        done(source);
    }
    void liftSubject(const QImage& picture, std::function<void(std::optional<QImage>, QString)> done) override
    {
        if (liftFailure)
            done(std::nullopt, *liftFailure);
        else
            done(picture.convertToFormat(QImage::Format_ARGB32), {});
    }
    void estimate(const EstimateRequest& request, std::stop_token, std::function<void(std::optional<Estimate>)> done) override
    {
        estimates.append(request);
        done(Estimate{1000 + estimates.size(), false});
    }
    ImageOutput sameFormatOutput(const FileInfo& file) override
    {
        return file.url.path().endsWith(QLatin1String(".png")) ? ImageOutput::png : ImageOutput::jpg;
    }
    double outputQuality(ImageOutput, std::optional<int> source, const SettingsSnapshot& settings) override
    {
        return source ? std::min(settings.jpegQuality, *source / 100.0 - 0.01) : settings.jpegQuality;
    }
};

struct Editor {
    std::shared_ptr<FakeServices> services = std::make_shared<FakeServices>();
    PhotoEditorModel model;

    explicit Editor(QSize size = QSize(4000, 3000), const QString& name = QStringLiteral("photo.jpg"),
                    SettingsSnapshot settings = {}, std::optional<int> quality = std::nullopt)
        : model(fileFor(name), QImage(400, 300, QImage::Format_RGB32), size, false, settings, quality, services)
    {
    }
    static FileInfo fileFor(const QString& name)
    {
        FileInfo file;
        file.url = QUrl::fromLocalFile(QStringLiteral("/pictures/") + name);
        file.name = name;
        return file;
    }
};

} // namespace

TEST(PhotoEditorModel, TheRecipeHoldsOnlyWhatChanged)
{
    Editor editor;
    PhotoEditorModel& model = editor.model;
    EXPECT_TRUE(model.isUnchanged());
    OperationOptions untouched = model.recipe();
    EXPECT_EQ(untouched.stripMetadata, false);
    EXPECT_FALSE(untouched.rotation || untouched.cropRect || untouched.maxDimension || untouched.photo);

    model.setRotation(-90);
    EXPECT_EQ(model.quarterTurns(), 3);
    EXPECT_EQ(model.recipe().rotation, 270);
    EXPECT_EQ(model.orientedSize(), QSize(3000, 4000));
    model.setRotation(360);
    EXPECT_FALSE(model.recipe().rotation);

    model.setCrop(QRectF(0, 0, 1, 1));
    EXPECT_FALSE(model.recipe().cropRect);
    model.setCrop(QRectF(0.5, 0.5, 0.00001, 0.00001));
    EXPECT_EQ(model.pixelCropRect().size(), QSize(1, 1));
    model.setCrop(QRectF(0, 0, 1, 1));

    model.setSizeMode(PhotoEditorModel::SizeMode::fit);
    model.setFitLongest(10);
    EXPECT_EQ(model.recipe().maxDimension, 16);
    model.setFitLongest(9000);
    EXPECT_FALSE(model.recipe().maxDimension);
    model.setSizeMode(PhotoEditorModel::SizeMode::scale);
    model.setScalePercent(100);
    EXPECT_FALSE(model.recipe().maxDimension);

    model.setSizeMode(PhotoEditorModel::SizeMode::exact); // fills in the crop's own size
    EXPECT_EQ(model.exactWidth(), 4000);
    EXPECT_FALSE(model.recipe().exactSize);
}

TEST(PhotoEditorModel, OutputSizesRoundHalvesAwayFromZero)
{
    Editor editor(QSize(1001, 3));
    PhotoEditorModel& model = editor.model;
    model.setSizeMode(PhotoEditorModel::SizeMode::fit);
    model.setFitLongest(500); // 3 x 500 / 1001 = 1.4985 -> 1
    EXPECT_EQ(model.outputPixelSize(), QSize(500, 1));
    Editor other(QSize(1000, 5));
    other.model.setSizeMode(PhotoEditorModel::SizeMode::scale);
    other.model.setScalePercent(50); // 5 x 0.5 = 2.5 -> 3
    EXPECT_EQ(other.model.outputPixelSize(), QSize(500, 3));
}

TEST(PhotoEditorModel, RemovingTheBackgroundOfAJpegSwitchesToPng)
{
    Editor editor;
    PhotoEditorModel& model = editor.model;
    model.setQuality(0.5);
    model.setRemoveBackground(true);
    EXPECT_TRUE(model.cutout());
    EXPECT_EQ(model.format(), ImageOutput::png);
    EXPECT_FALSE(model.quality());
    EXPECT_TRUE(model.switchedToPNG());
    EXPECT_EQ(model.recipe().removeBackground, true);
    EXPECT_FALSE(model.recipe().backgroundColor);

    Editor failing;
    failing.services->liftFailure = QStringLiteral("No subject found in this image");
    failing.model.setRemoveBackground(true);
    EXPECT_FALSE(failing.model.removeBackground());
    EXPECT_EQ(failing.model.subjectError(), "No subject found in this image");
}

TEST(PhotoEditorModel, TurnsAndFlipsCarryTheCropAlong)
{
    Editor editor;
    PhotoEditorModel& model = editor.model;
    model.setCrop(QRectF(0.1, 0.2, 0.3, 0.4));
    model.setAspect(AspectPreset::wide);
    model.rotateQuarter(true);
    EXPECT_EQ(model.crop(), QRectF(1 - 0.6, 0.1, 0.4, 0.3));
    EXPECT_EQ(model.aspect(), AspectPreset::free);
    model.rotateQuarter(false);
    EXPECT_NEAR(model.crop().x(), 0.1, 1e-12);
    EXPECT_NEAR(model.crop().y(), 0.2, 1e-12);
    model.setAspect(AspectPreset::square);
    model.rotateQuarter(true);
    EXPECT_EQ(model.aspect(), AspectPreset::square);

    Editor flipped;
    flipped.model.setCrop(QRectF(0.1, 0.2, 0.3, 0.4));
    flipped.model.flip(true);
    EXPECT_NEAR(flipped.model.crop().x(), 0.6, 1e-12);
    flipped.model.rotateQuarter(true); // the mirrorings swap
    EXPECT_FALSE(flipped.model.flipHorizontal());
    EXPECT_TRUE(flipped.model.flipVertical());
    EXPECT_EQ(flipped.model.display().size(), QSize(300, 400));
}

TEST(PhotoEditorModel, AnExactShapeFitsInsideTheSavedCropAndGivesItBack)
{
    Editor editor(QSize(2000, 1000));
    PhotoEditorModel& model = editor.model;
    model.setExactWidth(500);
    model.setExactHeight(500);
    model.setSizeMode(PhotoEditorModel::SizeMode::exact);
    // A square in pixels is half the width in unit terms, centred.
    EXPECT_NEAR(model.crop().width(), 0.5, 1e-9);
    EXPECT_NEAR(model.crop().height(), 1.0, 1e-9);
    EXPECT_NEAR(model.crop().x(), 0.25, 1e-9);
    EXPECT_EQ(model.cropBeforeShape(), QRectF(0, 0, 1, 1));
    EXPECT_EQ(model.recipe().exactSize, QSizeF(500, 500));
    model.setExactFit(PhotoEditorModel::ExactFit::stretch);
    EXPECT_EQ(model.crop(), QRectF(0, 0, 1, 1));
    EXPECT_FALSE(model.cropBeforeShape());
}

TEST(PhotoEditorModel, AnEstimateComesAfterAQuietSpellAndANewerChangeDropsIt)
{
    Editor editor;
    PhotoEditorModel& model = editor.model;
    FakeServices& services = *editor.services;
    model.setStripMetadata(true); // off the export tab: no estimate
    services.advance(1000);
    EXPECT_TRUE(services.estimates.isEmpty());
    EXPECT_FALSE(model.estimating());

    model.setTab(PhotoEditorModel::Tab::exportTab);
    EXPECT_TRUE(model.estimating());
    services.advance(349);
    EXPECT_TRUE(services.estimates.isEmpty());
    model.setQuality(0.4); // a newer change
    services.advance(1);
    EXPECT_TRUE(services.estimates.isEmpty());
    services.advance(349);
    ASSERT_EQ(services.estimates.size(), 1);
    EXPECT_EQ(services.estimates[0].recipe.quality, 0.4);
    EXPECT_EQ(model.estimatedBytes(), 1001);
    EXPECT_FALSE(model.estimating());
}

TEST(PhotoEditorModel, UnchangedFollowsTheDefaultMetadataChoice)
{
    SettingsSnapshot keep;
    keep.preserveMetadata = false;
    Editor editor(QSize(400, 300), QStringLiteral("photo.jpg"), keep, 60);
    EXPECT_TRUE(editor.model.isUnchanged());
    editor.model.setStripMetadata(false);
    EXPECT_FALSE(editor.model.isUnchanged());
    EXPECT_TRUE(editor.model.qualityCappedBySource());
    editor.model.resetAll();
    EXPECT_TRUE(editor.model.isUnchanged());
    EXPECT_EQ(PhotoEditorModel::tabFromTitle("Export"), PhotoEditorModel::Tab::exportTab);
    EXPECT_FALSE(PhotoEditorModel::sizeModeFromTitle("export"));
}
