#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoExportTab.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QSlider>
#include <QUrl>

using namespace qv;

namespace {

// Estimates held back until the test answers them; time moved by hand.
class HeldServices : public PhotoEditorServices {
public:
    QList<std::function<void()>> timers;
    QList<std::function<void(std::optional<Estimate>)>> answers;

    void after(int, QObject*, std::function<void()> function) override { timers.append(std::move(function)); }
    void runTimers()
    {
        const auto due = std::exchange(timers, {});
        for (const auto& function : due)
            function();
    }
    void render(const QImage& source, const PhotoAdjustments&, const std::optional<QString>&,
                std::function<void(QImage)> done) override
    {
        done(source);
    }
    void liftSubject(const QImage&, std::function<void(std::optional<QImage>, QString)> done) override
    {
        done(std::nullopt, {});
    }
    void estimate(const EstimateRequest&, std::stop_token, std::function<void(std::optional<Estimate>)> done) override
    {
        answers.append(std::move(done));
    }
    ImageOutput sameFormatOutput(const FileInfo&) override { return ImageOutput::jpg; }
    double outputQuality(ImageOutput, std::optional<int> source, const SettingsSnapshot& settings) override
    {
        return source ? std::min(settings.jpegQuality, *source / 100.0) : settings.jpegQuality;
    }
};

FileInfo photoFile(qint64 size)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(QStringLiteral("/pictures/photo.jpg"));
    file.name = QStringLiteral("photo.jpg");
    file.ext = QStringLiteral("jpg");
    file.format = formatForExtension(QStringLiteral("jpg"));
    file.size = size;
    return file;
}

struct ExportEditor {
    std::shared_ptr<HeldServices> services = std::make_shared<HeldServices>();
    PhotoEditorModel* model;
    PhotoExportTab tab;

    explicit ExportEditor(std::optional<int> quality = 70, qint64 size = 2'000'000)
        : model(new PhotoEditorModel(photoFile(size), QImage(40, 30, QImage::Format_RGB32), QSize(4000, 3000), false,
                                     SettingsSnapshot(), quality, services)),
          tab(model)
    {
        model->setParent(&tab);
        tab.show();
    }
};

QString megabytes(double value)
{
    return QLocale().toString(value, 'f', 1) + QStringLiteral(" MB");
}

} // namespace

TEST(PhotoExportTabWords, TheEstimateIsWordedAgainstTheOriginalSize)
{
    EXPECT_EQ(PhotoExportTab::estimateText(std::nullopt, false, 2'000'000), QStringLiteral("\u2013"));
    EXPECT_EQ(PhotoExportTab::estimateText(std::nullopt, true, 2'000'000), QStringLiteral("\u2013"));
    EXPECT_EQ(PhotoExportTab::estimateText(1'000'000, true, 2'000'000), "1 MB, 50 % smaller");
    EXPECT_EQ(PhotoExportTab::estimateText(1'300'000, false, 2'000'000), "about 1.3 MB, 35 % smaller");
    EXPECT_EQ(PhotoExportTab::estimateText(2'000'000, false, 2'000'000), "about the same, 2 MB");
    EXPECT_EQ(PhotoExportTab::estimateText(2'000'000, true, 2'000'000), "2 MB, the same");
    EXPECT_EQ(PhotoExportTab::estimateText(2'100'000, true, 2'000'000), "2.1 MB, 5 % larger");
    EXPECT_EQ(PhotoExportTab::estimateText(2'100'000, false, 2'000'000), "about 2.1 MB, 5 % larger");
    // Half a percent rounds away from zero; under half a percent either way is the same.
    EXPECT_EQ(PhotoExportTab::estimateText(1'990'000, true, 2'000'000), "2 MB, 1 % smaller");
    EXPECT_EQ(PhotoExportTab::estimateText(2'010'000, true, 2'000'000), "2 MB, 1 % larger");
    EXPECT_EQ(PhotoExportTab::estimateText(2'009'000, false, 2'000'000), "about the same, 2 MB");
    // An empty original gets no percentage.
    EXPECT_EQ(PhotoExportTab::estimateText(12'345, true, 0), "12 KB");
    EXPECT_EQ(PhotoExportTab::estimateText(12'345, false, 0), "about 12 KB");
}

TEST(PhotoExportTabWords, TheQualityIsAWholePercentLikeTheOriginalOnlyWhenHeldDown)
{
    EXPECT_EQ(PhotoExportTab::qualityText(0.85, false, false), "85 %");
    EXPECT_EQ(PhotoExportTab::qualityText(0.7, false, true), "70 %, like the original");
    EXPECT_EQ(PhotoExportTab::qualityText(0.8, true, true), "80 %");
    EXPECT_EQ(PhotoExportTab::qualityText(0.125, true, false), "13 %");
}

TEST(PhotoExportTab, TheCopyLineShowsADashThenASpinnerThenTheEstimate)
{
    ExportEditor editor;
    EXPECT_EQ(editor.tab.originalSizeLabel()->text(), "2 MB");
    EXPECT_EQ(editor.tab.copySizeLabel()->text(), QStringLiteral("\u2013"));
    EXPECT_FALSE(editor.tab.estimatingIndicator()->isVisible());

    editor.model->setTab(PhotoEditorModel::Tab::exportTab);
    EXPECT_TRUE(editor.tab.estimatingIndicator()->isVisible());
    EXPECT_FALSE(editor.tab.copySizeLabel()->isVisible());
    editor.services->runTimers();
    ASSERT_EQ(editor.services->answers.size(), 1);
    editor.services->answers.takeFirst()(PhotoEditorServices::Estimate{1'300'000, false});
    EXPECT_FALSE(editor.tab.estimatingIndicator()->isVisible());
    EXPECT_TRUE(editor.tab.copySizeLabel()->isVisible());
    EXPECT_EQ(editor.tab.copySizeLabel()->text(), "about " + megabytes(1.3) + ", 35 % smaller");

    // The last estimate stays while a newer one runs; one without a result shows the dash.
    editor.model->setStripMetadata(true);
    EXPECT_TRUE(editor.tab.estimatingIndicator()->isVisible());
    EXPECT_EQ(editor.model->estimatedBytes(), 1'300'000);
    editor.services->runTimers();
    editor.services->answers.takeFirst()(std::nullopt);
    EXPECT_EQ(editor.tab.copySizeLabel()->text(), QStringLiteral("\u2013"));
    EXPECT_FALSE(editor.model->estimateIsExact());
}

TEST(PhotoExportTab, EveryChangeOnTheTabAsksForANewEstimateAndLeavingItStopsTheSpinner)
{
    ExportEditor editor;
    editor.model->setTab(PhotoEditorModel::Tab::exportTab);
    editor.tab.formatMenu()->setCurrentIndex(editor.tab.formatMenu()->findText("PNG"));
    Q_EMIT editor.tab.formatMenu()->activated(editor.tab.formatMenu()->currentIndex());
    editor.model->setFormat(std::nullopt);
    editor.tab.qualitySlider()->setValue(PhotoExportTab::qualitySteps / 3);
    editor.model->resetAll();
    editor.services->runTimers();
    // Only the last one is still wanted: the others were stopped before they began.
    EXPECT_EQ(editor.services->answers.size(), 1);
    editor.model->setTab(PhotoEditorModel::Tab::size);
    EXPECT_FALSE(editor.model->estimating());
    editor.services->runTimers();
    EXPECT_EQ(editor.services->answers.size(), 1);
}

TEST(PhotoExportTab, AnUntouchedJpegIsCopiedAsItIsUntilTheSliderMoves)
{
    ExportEditor editor;
    editor.model->setTab(PhotoEditorModel::Tab::exportTab);
    EXPECT_EQ(editor.tab.formatMenu()->currentText(), "JPG, like the original");
    EXPECT_EQ(editor.tab.qualityLabel()->text(), "70 %, like the original");
    EXPECT_TRUE(editor.tab.losslessNote()->isVisible());
    EXPECT_EQ(editor.tab.losslessNote()->text(),
              "Nothing changes in the picture, so it is copied as it is. Move the slider to compress it.");
    EXPECT_FALSE(editor.tab.qualityNote()->isVisible());

    editor.tab.qualitySlider()->setValue(PhotoExportTab::qualitySteps * 7 / 9); // 0.8
    EXPECT_EQ(editor.tab.qualityLabel()->text(), "80 %");
    EXPECT_FALSE(editor.tab.losslessNote()->isVisible());

    // Another format re-encodes too.
    editor.model->setFormat(ImageOutput::heic);
    EXPECT_FALSE(editor.tab.losslessNote()->isVisible());
}

TEST(PhotoExportTab, AJpegOfTheSettingsQualityOrAboveReadsWithoutLikeTheOriginal)
{
    ExportEditor editor(95);
    EXPECT_EQ(editor.tab.qualityLabel()->text(), "85 %");
    ExportEditor unknown(std::nullopt);
    EXPECT_EQ(unknown.tab.qualityLabel()->text(), "85 %");
}

TEST(PhotoExportTab, TheMetadataSwitchIsExplained)
{
    ExportEditor editor;
    bool found = false;
    for (QLabel* label : editor.tab.findChildren<QLabel*>())
        found = found || (label->text() == "Camera details, location and dates." && label->isVisible());
    EXPECT_TRUE(found);
}
