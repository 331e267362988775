#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "editors/annotate/AnnotateEditor.h"
#include "editors/photo/EnginePhotoEditorServices.h"
#include "editors/photo/PhotoEditor.h"
#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoExportTab.h"
#include "engines/image/ImageEngine.h"
#include "jobs/WorkerPool.h"
#include "model/errors/EngineError.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

using namespace qv;
using namespace qv::test;

namespace {

// Left half red, right half white, saved at the given quality.
QString halfRedJpeg(const QString& path, QSize size, int quality)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(0, 0, size.width() / 2, size.height(), Qt::red);
    EXPECT_TRUE(image.save(path, "JPEG", quality));
    return path;
}

// Noise, which no encoder shrinks much: a slow write and a large one.
QString noise(const QString& path, QSize size, const char* format, int quality = -1)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = 0xFF000000u | (random.generate() & 0xFFFFFFu);
    }
    EXPECT_TRUE(image.save(path, format, quality));
    return path;
}

QStringList trialCopies(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("estimate-*")}, QDir::Files | QDir::Hidden);
}

// Also those in the workers' own folders beneath it.
QStringList trialCopiesBeneath(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, {QStringLiteral("estimate-*")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

PhotoEditorServices::EstimateRequest requestFor(const QString& path, const OperationOptions& recipe = {})
{
    PhotoEditorServices::EstimateRequest request;
    request.file = fileInfoForURL(QUrl::fromLocalFile(path));
    request.recipe = recipe;
    request.recipe.stripMetadata = false;
    request.pixelSize = QImage(path).size();
    request.originalQuality = ImageEngine::estimatedJPEGQuality(request.file);
    return request;
}

OperationOptions withQuality(double quality)
{
    OperationOptions recipe;
    recipe.quality = quality;
    return recipe;
}

// Trial copies go into a cache of the test's own, as the temporary root would hold them.
class PhotoEstimate : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
    }
    void TearDown() override { qputenv("XDG_CACHE_HOME", m_saved); }

    QString file(const QString& name) const { return m_dir.filePath(name); }
    QString root() const { return m_dir.filePath(QStringLiteral("cache/quorvenda/tmp")); }

    QTemporaryDir m_dir;
    QByteArray m_saved;
};

} // namespace

TEST_F(PhotoEstimate, AnUntouchedJpegIsExactlyItsOwnSize)
{
    const QString path = halfRedJpeg(file("photo.jpg"), QSize(800, 600), 70);
    EnginePhotoEditorServices services;
    const auto estimate = services.estimateNow(requestFor(path), {});
    ASSERT_TRUE(estimate);
    EXPECT_TRUE(estimate->exact);
    EXPECT_EQ(estimate->bytes, QFileInfo(path).size());
    // Copied, never decoded.
    EXPECT_EQ(services.fullDecodes(), 0);
    EXPECT_TRUE(trialCopies(root()).isEmpty());
}

TEST_F(PhotoEstimate, ALowerQualityIsAnEstimateSmallerThanTheOriginal)
{
    const QString path = noise(file("photo.jpg"), QSize(800, 600), "JPEG", 95);
    EnginePhotoEditorServices services;
    const auto estimate = services.estimateNow(requestFor(path, withQuality(0.5)), {});
    ASSERT_TRUE(estimate);
    EXPECT_FALSE(estimate->exact);
    EXPECT_GT(estimate->bytes, 0);
    EXPECT_LT(estimate->bytes, QFileInfo(path).size());
    EXPECT_TRUE(trialCopies(root()).isEmpty());

    // The full-size picture is decoded once and kept for the next estimates.
    OperationOptions png;
    png.outputFormat = QStringLiteral("png");
    const auto asPng = services.estimateNow(requestFor(path, png), {});
    ASSERT_TRUE(asPng);
    EXPECT_FALSE(asPng->exact);
    EXPECT_EQ(services.fullDecodes(), 1);
    EXPECT_TRUE(trialCopies(root()).isEmpty());
}

TEST_F(PhotoEstimate, APictureAbove50MegapixelsGetsNoEstimateAndIsNeverDecoded)
{
    const QString path = halfRedJpeg(file("photo.jpg"), QSize(100, 100), 90);
    PhotoEditorServices::EstimateRequest request = requestFor(path, withQuality(0.5));
    // The size the header would give for a 7100 x 7100 picture.
    request.pixelSize = QSize(7100, 7100);
    EnginePhotoEditorServices services;
    EXPECT_FALSE(services.estimateNow(request, {}));
    EXPECT_EQ(services.fullDecodes(), 0);

    // Just under the limit, the estimate is made.
    request.pixelSize = QSize(5000, 10000);
    EXPECT_TRUE(services.estimateNow(request, {}));
}

TEST_F(PhotoEstimate, AnUnreadablePictureOrAFullDiskGivesNoEstimateAndLeavesNothing)
{
    const QString bad = file("bad.jpg");
    {
        QFile out(bad);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write("not a picture at all"), 20);
    }
    PhotoEditorServices::EstimateRequest request = requestFor(bad, withQuality(0.5));
    request.pixelSize = QSize(100, 100);
    EnginePhotoEditorServices services;
    EXPECT_FALSE(services.estimateNow(request, {}));
    EXPECT_TRUE(trialCopies(root()).isEmpty());

    SmallDisk disk(1 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "no tmpfs without root";
    const QString big = noise(file("noise.png"), QSize(1000, 1000), "PNG");
    OperationOptions tiff;
    tiff.outputFormat = QStringLiteral("tiff");
    EnginePhotoEditorServices onSmallDisk(disk.path());
    EXPECT_FALSE(onSmallDisk.estimateNow(requestFor(big, tiff), {}));
    EXPECT_TRUE(trialCopies(disk.path()).isEmpty());
}

TEST_F(PhotoEstimate, AStoppedEstimatePublishesNothingAndLeavesNoTrialCopy)
{
    const QString path = noise(file("noise.png"), QSize(4000, 4000), "PNG");
    OperationOptions recipe;
    recipe.outputFormat = QStringLiteral("tiff");
    recipe.photo = PhotoAdjustments{0.5, 1, 1, 0, 0};
    EnginePhotoEditorServices services;

    // Stopped before it starts.
    std::stop_source early;
    early.request_stop();
    EXPECT_FALSE(services.estimateNow(requestFor(path, recipe), early.get_token()));

    // Stopped while it writes: once the trial copy shows in the temporary root.
    std::stop_source stop;
    std::atomic<int> answers = 0;
    std::optional<PhotoEditorServices::Estimate> answer;
    services.estimate(requestFor(path, recipe), stop.get_token(),
                      [&](std::optional<PhotoEditorServices::Estimate> estimate) {
                          answer = estimate;
                          ++answers;
                      });
    waitFor([&] { return !trialCopies(root()).isEmpty() || answers > 0; }, 60000);
    stop.request_stop();
    ASSERT_TRUE(waitFor([&] { return answers > 0; }, 60000));
    EXPECT_FALSE(answer);
    EXPECT_TRUE(trialCopies(root()).isEmpty());
}

TEST_F(PhotoEstimate, ANewerChangeCancelsThePendingEstimateAndOnlyTheLastPublishes)
{
    const QString path = noise(file("photo.jpg"), QSize(800, 600), "JPEG", 90);
    const FileInfo info = fileInfoForURL(QUrl::fromLocalFile(path));
    PhotoEditorModel model(info, QImage(path), QSize(800, 600), false, SettingsSnapshot(),
                           ImageEngine::estimatedJPEGQuality(info), std::make_shared<EnginePhotoEditorServices>());
    int published = 0;
    std::optional<qint64> last;
    QObject::connect(&model, &PhotoEditorModel::changed, [&] {
        if (model.estimatedBytes() != last) {
            last = model.estimatedBytes();
            ++published;
        }
    });
    model.setTab(PhotoEditorModel::Tab::exportTab);
    EXPECT_TRUE(model.estimating());
    model.setQuality(0.5);
    ASSERT_TRUE(waitFor([&] { return !model.estimating(); }, 60000));
    EXPECT_EQ(published, 1);
    ASSERT_TRUE(model.estimatedBytes());
    EXPECT_FALSE(model.estimateIsExact());
    EXPECT_LT(*model.estimatedBytes(), info.size);
    EXPECT_TRUE(trialCopies(root()).isEmpty());

    // Leaving the tab starts none.
    model.setTab(PhotoEditorModel::Tab::adjust);
    EXPECT_FALSE(model.estimating());
}

TEST_F(PhotoEstimate, TheExportTabOfAnUntouchedJpegSaysTheCopyIsTheSame)
{
    const QString path = halfRedJpeg(file("photo.jpg"), QSize(800, 600), 70);
    const FileInfo info = fileInfoForURL(QUrl::fromLocalFile(path));
    auto* model = new PhotoEditorModel(info, QImage(path), QSize(800, 600), false, SettingsSnapshot(),
                                       ImageEngine::estimatedJPEGQuality(info),
                                       std::make_shared<EnginePhotoEditorServices>());
    PhotoExportTab tab(model);
    model->setParent(&tab);
    tab.show();
    model->setTab(PhotoEditorModel::Tab::exportTab);
    EXPECT_TRUE(tab.estimatingIndicator()->isVisible());
    ASSERT_TRUE(waitFor([&] { return !model->estimating(); }, 60000));
    EXPECT_FALSE(tab.estimatingIndicator()->isVisible());
    EXPECT_EQ(tab.formatMenu()->currentText(), "JPG, like the original");
    EXPECT_EQ(tab.qualityLabel()->text(), "70 %, like the original");
    EXPECT_TRUE(tab.losslessNote()->isVisible());
    EXPECT_TRUE(model->estimateIsExact());
    EXPECT_EQ(model->estimatedBytes(), info.size);
    EXPECT_TRUE(tab.copySizeLabel()->text().endsWith(", the same")) << tab.copySizeLabel()->text().toStdString();
    EXPECT_EQ(tab.originalSizeLabel()->text(), tab.copySizeLabel()->text().chopped(10));
}

TEST_F(PhotoEstimate, TheFullSizeCutOutIsLiftedOnceForEveryEstimate)
{
    // A red disc on grey, as a JPEG: the subject stands out.
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(220, 20, 20));
        painter.drawEllipse(QPointF(200, 150), 80, 80);
    }
    const QString path = file("disc.jpg");
    ASSERT_TRUE(image.save(path, "JPEG", 90));

    OperationOptions recipe;
    recipe.removeBackground = true;
    recipe.outputFormat = QStringLiteral("png");
    EnginePhotoEditorServices services;
    const auto transparent = services.estimateNow(requestFor(path, recipe), {});
    ASSERT_TRUE(transparent);
    EXPECT_FALSE(transparent->exact);

    // A fill colour changes the copy, not the cut-out.
    recipe.backgroundColor = QStringLiteral("#00FF00");
    const auto filled = services.estimateNow(requestFor(path, recipe), {});
    ASSERT_TRUE(filled);
    EXPECT_NE(filled->bytes, transparent->bytes);
    EXPECT_EQ(services.fullDecodes(), 1);
    EXPECT_EQ(services.fullLifts(), 1);
    EXPECT_TRUE(trialCopies(root()).isEmpty());
}

TEST_F(PhotoEstimate, InAWorkerTheEstimateIsTheSameAndADamagedOrStoppedOneGivesNoneAndLeavesNothing)
{
    const QString untouched = halfRedJpeg(file("photo.jpg"), QSize(800, 600), 70);
    const QString noisy = noise(file("noise.jpg"), QSize(800, 600), "JPEG", 95);
    const QByteArray whole = readFile(noisy);
    const QString cut = file("cut.jpg");
    {
        QFile out(cut);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(whole.left(whole.size() / 2)), whole.size() / 2);
    }
    OperationOptions png;
    png.outputFormat = QStringLiteral("png");
    png.photo = PhotoAdjustments{0.5, 1, 1, 0, 0};
    EnginePhotoEditorServices here;
    const auto lowerHere = here.estimateNow(requestFor(noisy, withQuality(0.5)), {});
    const auto pngHere = here.estimateNow(requestFor(noisy, png), {});
    ASSERT_TRUE(lowerHere && pngHere);
    // One editor per file, as the full-size picture is kept for the editor's file.
    EXPECT_FALSE(EnginePhotoEditorServices().estimateNow(requestFor(cut, withQuality(0.5)), {}));

    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    // Workers started from here on use this test's temporary root, and go with it.
    catalogueWorkers().clear();
    const auto off = qScopeGuard([] {
        IsolatedReading::setEnabled(false);
        catalogueWorkers().clear();
    });
    const int startedBefore = catalogueWorkers().startedCount();
    EnginePhotoEditorServices services;

    const auto exact = services.estimateNow(requestFor(untouched), {});
    ASSERT_TRUE(exact);
    EXPECT_TRUE(exact->exact);
    EXPECT_EQ(exact->bytes, QFileInfo(untouched).size());
    const auto lower = services.estimateNow(requestFor(noisy, withQuality(0.5)), {});
    ASSERT_TRUE(lower);
    EXPECT_FALSE(lower->exact);
    EXPECT_EQ(lower->bytes, lowerHere->bytes);
    const auto asPng = services.estimateNow(requestFor(noisy, png), {});
    ASSERT_TRUE(asPng);
    EXPECT_EQ(asPng->bytes, pngHere->bytes);
    EXPECT_GT(catalogueWorkers().startedCount(), startedBefore);
    // Nothing was decoded in this process.
    EXPECT_EQ(services.fullDecodes(), 0);

    EXPECT_FALSE(EnginePhotoEditorServices().estimateNow(requestFor(cut, withQuality(0.5)), {}));
    FileInfo cutFile = fileInfoForURL(QUrl::fromLocalFile(cut));
    EXPECT_THROW(PhotoEditor::load(cutFile), EngineError);
    EXPECT_THROW(AnnotateEditor::load(cutFile), EngineError);

    // Stopped while the worker writes: the worker goes, and its trial copy with it.
    const QString big = noise(file("big.png"), QSize(4000, 4000), "PNG");
    OperationOptions tiff;
    tiff.outputFormat = QStringLiteral("tiff");
    tiff.photo = PhotoAdjustments{0.5, 1, 1, 0, 0};
    std::stop_source stop;
    std::atomic<int> answers = 0;
    std::optional<PhotoEditorServices::Estimate> answer;
    services.estimate(requestFor(big, tiff), stop.get_token(), [&](std::optional<PhotoEditorServices::Estimate> estimate) {
        answer = estimate;
        ++answers;
    });
    waitFor([&] { return !trialCopiesBeneath(root()).isEmpty() || answers > 0; }, 60000);
    stop.request_stop();
    ASSERT_TRUE(waitFor([&] { return answers > 0; }, 60000));
    EXPECT_FALSE(answer);
    EXPECT_TRUE(trialCopiesBeneath(root()).isEmpty()) << trialCopiesBeneath(root()).join(u' ').toStdString();
}
