#include "app/welcome/PracticeArea.h"
#include "app/welcome/PracticePhoto.h"
#include "app/welcome/PracticeTile.h"
#include "engines/image/resample/ImageThumbnail.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/Workspace.h"
#include "platform/drags/DragEventSource.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"
#include "wheel/DragWatcher.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>

#include <memory>

using namespace qv;
using namespace qv::test;

namespace {

struct RecordingWorkspace : Workspace {
    QList<QUrl> revealed;
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>& urls) override { revealed += urls; }
};

int distance(QRgb a, QColor b)
{
    return std::max({std::abs(qRed(a) - b.red()), std::abs(qGreen(a) - b.green()),
                     std::abs(qBlue(a) - b.blue())});
}

class PracticePhotoTest : public ::testing::Test {
protected:
    QString folder() const { return dir.filePath(QStringLiteral("data/quorvenda/Practice")); }
    QString photo() const { return folder() + QStringLiteral("/Practice Photo.heic"); }

    std::unique_ptr<PracticeArea> makeArea(const QString& practiceFolder)
    {
        auto area = std::make_unique<PracticeArea>(
            PracticeArea::Services{&store, &watcher, &workspace, practiceFolder});
        EXPECT_TRUE(waitFor([&] { return area->isReady(); }));
        return area;
    }

    QTemporaryDir dir;
    SettingsStore store{QString()};
    FakeClock clock;
    DragWatcher watcher{nullptr, store, clock};
    RecordingWorkspace workspace;
};

TEST_F(PracticePhotoTest, ThePhotoIsAnHevcPictureOfTheDuskAndIsNeverWrittenTwice)
{
    const std::optional<QString> made = PracticePhoto::make(folder());
    ASSERT_EQ(made, photo());
    // Only the photo: the temporary name it was written under is gone.
    EXPECT_EQ(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"Practice Photo.heic"});

    QByteArray header;
    ASSERT_EQ(runProgram(QStringLiteral("vipsheader"), {QStringLiteral("-a"), photo()}, &header), 0);
    EXPECT_TRUE(header.contains("1200x800")) << header.constData();
    EXPECT_TRUE(header.contains("heif-compression: hevc")) << header.constData();

    const std::optional<QImage> picture = imageThumbnail(photo(), QSize(1200, 800));
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->size(), QSize(1200, 800));
    EXPECT_LE(distance(picture->pixel(600, 3), QColor(0x2B, 0x3A, 0x8C)), 8);
    EXPECT_LE(distance(picture->pixel(845, 385), QColor(0xFF, 0xF4, 0xD6)), 8);
    EXPECT_LE(distance(picture->pixel(600, 796), QColor(0x14, 0x0F, 0x38)), 8);

    const QByteArray bytes = readFile(photo());
    const QDateTime modified = QFileInfo(photo()).lastModified();
    EXPECT_EQ(PracticePhoto::make(folder()), photo());
    EXPECT_EQ(readFile(photo()), bytes);
    EXPECT_EQ(QFileInfo(photo()).lastModified(), modified);
}

TEST_F(PracticePhotoTest, AFileOfThatNameThatIsNoPictureIsKeptAndTheTileStaysAPlaceholder)
{
    QDir().mkpath(folder());
    writeFile(photo(), "not a picture");
    auto area = makeArea(folder());
    EXPECT_EQ(area->sample(), photo());
    EXPECT_FALSE(area->tile()->hasThumbnail());
    EXPECT_EQ(readFile(photo()), QByteArray("not a picture"));
}

TEST_F(PracticePhotoTest, WithoutAFolderThereIsNoPhotoNoDragAndNoReveal)
{
    writeFile(dir.filePath(QStringLiteral("blocked")));
    auto area = makeArea(dir.filePath(QStringLiteral("blocked/Practice")));
    EXPECT_FALSE(area->sample());
    EXPECT_FALSE(area->tile()->hasThumbnail());

    int drags = 0;
    QObject::connect(&watcher, &DragWatcher::dragBegan, [&] { ++drags; });
    std::unique_ptr<QMimeData> data(area->prepareDrag());
    EXPECT_FALSE(data->hasUrls());
    EXPECT_EQ(drags, 0);
    area->showPracticeFolder();
    EXPECT_TRUE(workspace.revealed.isEmpty());
}

TEST_F(PracticePhotoTest, AFullDiskLeavesNoPhotoAndNoHalfWrittenFile)
{
    SmallDisk disk(8 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    EXPECT_FALSE(PracticePhoto::make(disk.path()));
    EXPECT_TRUE(QDir(disk.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(PracticePhotoTest, DraggingTheTileStartsTheWatcherUnlessPausedAndCarriesThePhoto)
{
    auto area = makeArea(folder());
    ASSERT_EQ(area->sample(), photo());
    EXPECT_TRUE(waitFor([&] { return area->tile()->hasThumbnail(); }));

    QList<QList<QUrl>> began;
    QObject::connect(&watcher, &DragWatcher::dragBegan,
                     [&](const QList<QUrl>& urls, const QList<FileInfo>&) { began.append(urls); });
    std::unique_ptr<QMimeData> data(area->prepareDrag());
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(photo())});
    EXPECT_EQ(began, (QList<QList<QUrl>>{{QUrl::fromLocalFile(photo())}}));
    EXPECT_TRUE(watcher.isFileDragActive());

    watcher.stopWatching();
    store.setValue(SettingsKey::paused, true);
    data.reset(area->prepareDrag());
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(photo())});
    EXPECT_EQ(began.size(), 1);
    EXPECT_FALSE(watcher.isFileDragActive());

    area->showPracticeFolder();
    EXPECT_EQ(workspace.revealed, QList<QUrl>{QUrl::fromLocalFile(photo())});
}

TEST_F(PracticePhotoTest, TheSentenceNamesTheConvertKey)
{
    EXPECT_EQ(PracticeArea::sentenceFor(QStringLiteral("off")),
              QStringLiteral("Drag the photo, tap  while dragging, and drop it on PNG. The copy "
                             "appears next to the sample."));
    EXPECT_TRUE(PracticeArea::sentenceFor(std::nullopt).startsWith("Drag the photo, tap Shift while"));
    EXPECT_TRUE(PracticeArea::sentenceFor(QStringLiteral("hyper")).startsWith("Drag the photo, tap Shift while"));
    EXPECT_TRUE(PracticeArea::sentenceFor(QStringLiteral("option")).startsWith("Drag the photo, tap Alt while"));

    auto area = makeArea(folder());
    store.setValue(SettingsKey::triggerConvert, QStringLiteral("command"));
    EXPECT_TRUE(area->sentence().startsWith("Drag the photo, tap Super while"));
}

// Where drags hear no keys (sway), the sentence asks for the photo held still in the area, and
// names the strip's edge for other files.
TEST_F(PracticePhotoTest, WhereDragsHearNoKeysTheSentenceAsksForARest)
{
    EXPECT_EQ(PracticeArea::sentenceFor(QStringLiteral("shift"), QStringLiteral("right")),
              QStringLiteral("Drag the photo and hold it still in this box until the Convert wheel opens, then drop "
                             "it on PNG. With other files, rest at the right edge of the screen. The copy appears "
                             "next to the sample."));
    EXPECT_TRUE(PracticeArea::sentenceFor(QStringLiteral("shift"), QStringLiteral("off"))
                    .contains("For other files, choose a screen edge to rest on in Settings, General."));
    EXPECT_TRUE(PracticeArea::sentenceFor(QStringLiteral("shift"), QStringLiteral("right"), true)
                    .startsWith("This desktop hides the keys during a drag"));

    auto area = std::make_unique<PracticeArea>(
        PracticeArea::Services{&store, &watcher, &workspace, folder(), true});
    store.setValue(SettingsKey::dragStripDwell, 0.6);
    store.setValue(SettingsKey::dragStripEdge, QStringLiteral("top"));
    EXPECT_TRUE(area->sentence().contains("hold it still in this box"));
    EXPECT_TRUE(area->sentence().contains("rest at the top edge"));
    EXPECT_FALSE(area->sentence().contains(QStringLiteral("tap")));
    store.setValue(SettingsKey::dragStripDwell, 0.0);
    EXPECT_TRUE(area->sentence().startsWith("This desktop hides the keys during a drag"));
}

} // namespace
