#include "editors/crop/CropEditor.h"
#include "editors/crop/CropEditorView.h"
#include "editors/EditorActivity.h"
#include "platform/ui/EditorButtons.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QBuffer>

#include <sys/resource.h>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include "support/WaitFor.h"

using namespace qv;

namespace {

FileInfo fileAt(const QString& path, FileCategory category = FileCategory::image)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.name = QFileInfo(path).fileName();
    file.category = category;
    return file;
}

QString sizeText(const CropEditorView& view)
{
    for (QLabel* label : view.findChildren<QLabel*>())
        if (label->text().endsWith(QLatin1String(" px")))
            return label->text();
    return {};
}

} // namespace

TEST(CropEditor, ALargePhotoIsPreviewedSmallAndMeasuredWhole)
{
    QTemporaryDir dir;
    QImage big(6000, 4000, QImage::Format_RGB32);
    big.fill(Qt::darkCyan);
    ASSERT_TRUE(big.save(dir.filePath("big.jpg"), "JPEG", 80));
    const CropEditor::Picture picture = CropEditor::load(fileAt(dir.filePath("big.jpg")), {});
    EXPECT_EQ(picture.pixelSize, QSize(6000, 4000));
    EXPECT_EQ(picture.preview.width(), 1600);
    EXPECT_NEAR(picture.preview.height(), 1067, 1);

    const QSizeF display = CropEditorView::displaySize(picture.pixelSize);
    EXPECT_NEAR(display.width(), 680, 1e-9);
    EXPECT_NEAR(display.height(), 453.333, 1e-3);
    EXPECT_EQ(CropEditorView::displaySize(QSize(100, 100)), QSizeF(460, 460));

    CropEditorView view(picture.preview, picture.pixelSize, [] {}, [](QRect) {});
    EXPECT_EQ(sizeText(view), QStringLiteral("4800 × 3200 px"));
}

TEST(CropEditor, CropIsDisabledBelowTwoPixelsAndHandsOverTheRoundedRectangle)
{
    std::optional<QRect> applied;
    bool cancelled = false;
    CropEditorView view(QImage(400, 300, QImage::Format_RGB32), QSize(4000, 3000), [&] { cancelled = true; },
                        [&](QRect rect) { applied = rect; });
    EditorButtons* buttons = view.findChild<EditorButtons*>();
    ASSERT_TRUE(buttons);
    view.overlay()->setCrop(QRectF(0.5, 0.5, 0.0002, 0.3));
    EXPECT_FALSE(buttons->isActionEnabled());
    buttons->cancelButton()->click();
    EXPECT_TRUE(cancelled);

    view.choose(AspectPreset::square);
    EXPECT_TRUE(qv::test::waitFor([] { return EditorActivity::count() == 0; }));
    EXPECT_EQ(sizeText(view), QStringLiteral("2700 × 2700 px"));
    view.choose(AspectPreset::free); // keeps the frame
    EXPECT_EQ(view.pixelRect(), QRect(650, 150, 2700, 2700));
    buttons->actionButton()->click();
    EXPECT_EQ(applied, QRect(650, 150, 2700, 2700));
}

namespace {

quint32 crc32Of(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A small PNG whose header claims 60000 x 60000 pixels, with a valid header checksum.
QByteArray hugeHeaderPng()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const auto put32 = [&](int at, quint32 value) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = char((value >> (24 - 8 * i)) & 0xFF);
    };
    put32(16, 60000);
    put32(20, 60000);
    put32(29, crc32Of(png.mid(12, 17)));
    return png;
}

} // namespace

TEST(CropEditor, AHugeHeaderIsNeverDecodedWhole)
{
    QTemporaryDir dir;
    const QString path = qv::test::writeFile(dir.filePath("huge.png"), hugeHeaderPng());
    // 60000 x 60000 RGB would be 10 GB: the preview is shrunk while it is read, whatever it shows.
    const auto peakKB = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKB();
    try {
        const CropEditor::Picture picture = CropEditor::load(fileAt(path), {});
        EXPECT_EQ(picture.pixelSize, QSize(60000, 60000));
        EXPECT_LE(picture.preview.width(), 1600);
    } catch (const std::exception&) {
        // refusing it is as good
    }
    EXPECT_LT(peakKB() - before, 1024 * 1024); // a tenth of the whole picture
}

TEST(CropEditor, UnreadableFilesThrowAndLeaveNoFrame)
{
    QTemporaryDir dir;
    const QString junk = qv::test::writeFile(dir.filePath("bad.jpg"), "not a picture");
    EXPECT_ANY_THROW(CropEditor::load(fileAt(junk), {}));
    EXPECT_ANY_THROW(CropEditor::load(fileAt(junk, FileCategory::video), {}));
}
