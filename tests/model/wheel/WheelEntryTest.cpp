#include "model/wheel/WheelEntry.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

FileInfo fileOf(FileCategory category, const char* ext)
{
    FileInfo info;
    info.category = category;
    info.ext = QString::fromLatin1(ext);
    return info;
}

OperationDescriptor op(const char* id, QSet<FileCategory> categories,
                       OperationDescriptor::AcceptTest accepts = OperationDescriptor::acceptEveryFile())
{
    OperationDescriptor d;
    d.id = QString::fromLatin1(id);
    d.categories = std::move(categories);
    d.accepts = std::move(accepts);
    return d;
}

} // namespace

TEST(WheelEntry, OperationForFilePrefersItsCategory)
{
    const auto onlyPng = [](const FileInfo& f) { return f.ext == QLatin1String("png"); };
    WheelEntry entry;
    entry.operations = {op("any", {FileCategory::audio}), op("png", {FileCategory::image}, onlyPng),
                        op("image", {FileCategory::image})};

    EXPECT_EQ(entry.operationForFile(fileOf(FileCategory::image, "png"))->id, QStringLiteral("png"));
    EXPECT_EQ(entry.operationForFile(fileOf(FileCategory::image, "jpg"))->id, QStringLiteral("image"));
    EXPECT_EQ(entry.operationForFile(fileOf(FileCategory::audio, "mp3"))->id, QStringLiteral("any"));
    // No operation lists video: the first whose test accepts it, whatever its categories.
    EXPECT_EQ(entry.operationForFile(fileOf(FileCategory::video, "mp4"))->id, QStringLiteral("any"));

    WheelEntry picky;
    picky.operations = {op("png", {FileCategory::image}, onlyPng)};
    EXPECT_EQ(picky.operationForFile(fileOf(FileCategory::image, "gif")), nullptr);
    EXPECT_EQ(WheelEntry().operationForFile(fileOf(FileCategory::image, "png")), nullptr);
}

TEST(OperationDescriptor, AppliesToSelections)
{
    const FileInfo image = fileOf(FileCategory::image, "png");
    const FileInfo video = fileOf(FileCategory::video, "mp4");

    OperationDescriptor merge = op("merge", {FileCategory::image});
    merge.minimumFiles = 2;
    EXPECT_FALSE(merge.applies({}));
    EXPECT_FALSE(merge.applies({image}));
    EXPECT_TRUE(merge.applies({image, image}));

    OperationDescriptor single = op("single", {FileCategory::image});
    single.multiFile = MultiFileMode::single;
    EXPECT_TRUE(single.applies({image}));
    EXPECT_FALSE(single.applies({image, image}));

    EXPECT_FALSE(op("images", {FileCategory::image}).applies({image, video}));
    EXPECT_FALSE(op("nothing", {}).applies({image}));

    const QList<FileCategory> every = allCases<FileCategory>();
    OperationDescriptor action = op("action.copy", QSet<FileCategory>(every.begin(), every.end()));
    action.multiFile = MultiFileMode::batch;
    EXPECT_TRUE(action.applies({image, video, fileOf(FileCategory::folder, "")}));
    EXPECT_FALSE(action.applies({}));

    EXPECT_FALSE(op("refuses", {FileCategory::image}, [](const FileInfo&) { return false; })
                     .applies({image}));
}
