#include "catalogue/lists/ImageCatalogue.h"
#include "catalogue/tools/AllToolDescriptors.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/files/FileInfo.h"
#include "model/operations/Progress.h"
#include "support/DescriptorLists.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

const OperationDescriptor& byID(const QString& id)
{
    return qv::test::byID(imageDescriptors(), id);
}

FileInfo inspected(const QString& path)
{
    return fileInfoForURL(QUrl::fromLocalFile(path));
}

// Runs a descriptor's operation on the files as the job centre does for one work item.
QList<QUrl> run(const OperationDescriptor& descriptor, const QStringList& paths, OperationContext context = {})
{
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(path);
        context.files << inspected(path);
    }
    OutputPlanner planner(urls.first(), context.settings, context.notes);
    Progress progress(100);
    return descriptor.make(context)->run(urls, planner, progress);
}

} // namespace

TEST(ImageCatalogue, ConversionsComeFirstInWheelOrder)
{
    EXPECT_EQ(ids(imageConversions()),
              (QStringList{"convert.image.jpg", "convert.image.png", "convert.image.heic", "convert.image.webp",
                           "convert.image.avif", "convert.image.pdf", "convert.image.tiff", "convert.image.gif",
                           "convert.image.bmp", "convert.image.ico", "convert.image.icns", "convert.image.jp2",
                           "convert.image.psd", "convert.image.tga", "convert.image.mp4",
                           "convert.image.webm", "convert.image.docx"}));
    EXPECT_TRUE(ids(imageTools()).contains("tool.image.toPDF"));
    const QStringList tools = ids(imageTools());
    EXPECT_LT(tools.indexOf("tool.image.extractText"), tools.indexOf("tool.image.readQR"));
    EXPECT_LT(tools.indexOf("tool.image.readQR"), tools.indexOf("tool.image.toPDF"));
    EXPECT_GE(tools.indexOf("tool.image.extractText"), 0);
    EXPECT_EQ(ids(allToolDescriptors()).indexOf("convert.image.jpg"), 0);

    const OperationDescriptor& jpg = byID("convert.image.jpg");
    EXPECT_EQ(jpg.title, "JPG");
    EXPECT_EQ(jpg.verb, "Converting to JPG");
    EXPECT_EQ(jpg.lane, JobLane::cpu);
    EXPECT_EQ(jpg.optionFields, (QList<OptionField>{OptionField::imageQuality, OptionField::maxDimension}));
    EXPECT_EQ(byID("convert.image.bmp").optionFields,
              (QList<OptionField>{OptionField::maxDimension, OptionField::alphaBackground}));
    EXPECT_EQ(byID("convert.image.png").optionFields, QList<OptionField>{OptionField::maxDimension});
    EXPECT_EQ(byID("convert.image.webp").engine, EngineID::of(EngineID::Kind::ffmpeg));
    EXPECT_EQ(byID("convert.image.avif").engine, EngineID::of(EngineID::Kind::imageIO));

    QTemporaryDir dir;
    const FileInfo jpeg = inspected(writeOpaqueImage(dir.filePath("a.jpg"), 8, 8));
    EXPECT_FALSE(jpg.accepts(jpeg));
    EXPECT_TRUE(byID("convert.image.png").accepts(jpeg));

    const OperationDescriptor& toPdf = byID("tool.image.toPDF");
    EXPECT_EQ(toPdf.title, "To PDF");
    EXPECT_EQ(toPdf.multiFile, MultiFileMode::combine);
    EXPECT_EQ(toPdf.verb, "Combining into PDF");
    EXPECT_EQ(toPdf.optionFields, QList<OptionField>{OptionField::mergeOrder});
}

TEST(ImageCatalogue, ToPdfNamesAfterTheFirstImageWithTheMergeSuffixForMany)
{
    QTemporaryDir dir;
    const QString cam = writeOpaqueImage(dir.filePath("cam.jpg"), 300, 200, 300);
    const QString flat = writeOpaqueImage(dir.filePath("flat.png"), 32, 24);
    const QList<QUrl> merged = run(byID("tool.image.toPDF"), {cam, flat});
    ASSERT_EQ(merged.size(), 1);
    EXPECT_EQ(merged.first().toLocalFile(), dir.filePath("cam (merged).pdf"));
    EXPECT_EQ(runProgram("qpdf", {"--check", merged.first().toLocalFile()}), 0);

    const QList<QUrl> single = run(byID("tool.image.toPDF"), {flat});
    EXPECT_EQ(single.first().toLocalFile(), dir.filePath("flat.pdf"));
    const QList<QUrl> converted = run(byID("convert.image.pdf"), {cam});
    EXPECT_EQ(converted.first().toLocalFile(), dir.filePath("cam.pdf"));
}

TEST(ImageCatalogue, ConversionsPlaceBesideTheOriginalWithoutOverwriting)
{
    QTemporaryDir dir;
    const QString png = writeHalfTransparentPng(dir.filePath("photo.png"));
    const QList<QUrl> first = run(byID("convert.image.jpg"), {png});
    EXPECT_EQ(first.first().toLocalFile(), dir.filePath("photo.jpg"));
    const QByteArray placed = readFile(dir.filePath("photo.jpg"));
    const QList<QUrl> second = run(byID("convert.image.jpg"), {png});
    EXPECT_NE(second.first(), first.first());
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), placed);

    const QString broken = writeFile(dir.filePath("broken.png"), "\x89PNG\r\n\x1a\n garbage");
    try {
        run(byID("convert.image.webp"), {broken});
        ADD_FAILURE() << "converted";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file is damaged or not in a supported format");
    }
    EXPECT_FALSE(QDir(dir.path()).entryList().contains("broken.webp"));
}
