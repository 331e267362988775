#include "wheel/ui/FilePictures.h"

#include <QIcon>
#include <QScopeGuard>

#include <gtest/gtest.h>

using namespace qv;

namespace {

// Pixels that are neither transparent nor near white: what shows of a drawing on a light disc.
int inkedPixels(const QImage& image)
{
    int inked = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            if (qAlpha(p) > 128 && qRed(p) + qGreen(p) + qBlue(p) < 600)
                ++inked;
        }
    }
    return inked;
}

} // namespace

TEST(FilePictures, EveryCategoryHasADrawingOfItsOwnWithoutAnIconTheme)
{
    const QString theme = QIcon::themeName();
    const QString fallback = QIcon::fallbackThemeName();
    const QStringList themePaths = QIcon::themeSearchPaths();
    const QStringList fallbackPaths = QIcon::fallbackSearchPaths();
    const auto restore = qScopeGuard([&] {
        QIcon::setThemeSearchPaths(themePaths);
        QIcon::setFallbackSearchPaths(fallbackPaths);
        QIcon::setThemeName(theme);
        QIcon::setFallbackThemeName(fallback);
    });
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    QIcon::setFallbackThemeName(QStringLiteral("no-such-theme"));
    QIcon::setThemeSearchPaths({});
    QIcon::setFallbackSearchPaths({});
    QList<QImage> seen;
    for (const FileCategory category : allCases<FileCategory>()) {
        SCOPED_TRACE(toString(category).toStdString());
        FileInfo file = fileInfoFromName(QUrl::fromLocalFile(QStringLiteral("/nowhere/file.bin")));
        file.category = category;
        file.isDirectory = category == FileCategory::folder;
        const std::optional<QImage> icon = fileIcon(file, 48);
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->width(), icon->height());
        EXPECT_GT(inkedPixels(*icon), icon->width() * icon->height() / 50);
        seen.append(*icon);
    }
    // Told apart by their symbols and colours, not one mark for all.
    EXPECT_NE(seen.at(int(FileCategory::image)), seen.at(int(FileCategory::video)));
    EXPECT_NE(seen.at(int(FileCategory::pdf)), seen.at(int(FileCategory::spreadsheet)));

    // The format's name is written on the sheet when there is room, and a promise gets a
    // drawing of what it promises.
    EXPECT_NE(drawnFileIcon(FileCategory::document, QStringLiteral("DOCX"), 96),
              drawnFileIcon(FileCategory::document, QStringLiteral("ODT"), 96));
    // A folder stands out from the wheel's blue centre: filled, and far lighter than the blue.
    const QImage folder = drawnFileIcon(FileCategory::folder, QString(), 96);
    const QColor middle = folder.pixelColor(48, 56);
    EXPECT_EQ(middle.alpha(), 255);
    EXPECT_GT(qGray(middle.rgb()) - qGray(QColor(0x4C, 0x6E, 0xF5).rgb()), 60);
    const FileInfo promised = promisedFileInfo(QStringLiteral("photo.heic"), QStringLiteral("image/heic"));
    ASSERT_TRUE(fileIcon(promised, 48));
    EXPECT_GT(inkedPixels(*fileIcon(promised, 48)), 48);
    EXPECT_FALSE(fileIcon(promised, 0));
}

TEST(FilePictures, FramesAreAskedOfFFmpegAsOnePictureOnItsOutput)
{
    struct Case {
        double seconds;
        bool cover;
        QStringList expected;
    };
    const QStringList tail{"-an", "-sn", "-frames:v", "1", "-vf",
                           "scale=192:192:force_original_aspect_ratio=decrease", "-c:v", "ppm", "-f",
                           "image2pipe", "pipe:1"};
    const QStringList head{"-nostdin", "-hide_banner", "-loglevel", "error"};
    const QList<Case> cases{
        {1, false, head + QStringList{"-ss", "1.000", "-i", "file:/m/-x.mp4", "-map", "0:V:0"} + tail},
        {0, false, head + QStringList{"-i", "file:/m/-x.mp4", "-map", "0:V:0"} + tail},
        // An audio file's cover is an attached picture, which only "v" takes.
        {0, true, head + QStringList{"-i", "file:/m/-x.mp4", "-map", "0:v:0"} + tail},
    };
    for (const Case& c : cases)
        EXPECT_EQ(centreFrameArguments(QStringLiteral("/m/-x.mp4"), 192, c.seconds, c.cover), c.expected);
}

TEST(FilePictures, FilesWithoutContentToShowAnswerAtOnceWithNothing)
{
    FileInfo folder = fileInfoFromName(QUrl::fromLocalFile(QStringLiteral("/tmp")));
    folder.isDirectory = true;
    folder.category = FileCategory::folder;
    int answers = 0;
    QImage answer(1, 1, QImage::Format_RGB32);
    loadThumbnail(folder, 96, {}, [&](QImage image) {
        ++answers;
        answer = image;
    });
    EXPECT_EQ(answers, 1);
    EXPECT_TRUE(answer.isNull());
}

TEST(FilePictures, APageShowsTheStartOfWhatAFileHolds)
{
    IsolatedDocumentReading::Preview preview;
    preview.title = QStringLiteral("bundle.zip");
    IsolatedDocumentReading::Block table;
    table.kind = IsolatedDocumentReading::Block::Kind::table;
    for (int i = 0; i < 200; ++i)
        table.rows.append({QStringLiteral("entry %1.txt").arg(i), QStringLiteral("1 KB")});
    preview.blocks.append(table);
    const QImage page = pagePicture(preview, 192);
    ASSERT_EQ(page.size(), QSize(148, 192));
    // Written on, white around the writing, and the rows that do not fit left off the sheet.
    EXPECT_GT(inkedPixels(page), 200);
    EXPECT_EQ(page.pixelColor(74, 186), QColor(Qt::white));
    EXPECT_TRUE(pagePicture(preview, 4).isNull());
    EXPECT_FALSE(pagePicture(IsolatedDocumentReading::Preview{}, 96).isNull());
}
