#include "catalogue/lists/QuickActionCatalogue.h"
#include "catalogue/ToolRegistry.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "model/files/NativeFileName.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "platform/settings/SettingsStore.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

using C = FileCategory;
using M = MultiFileMode;

FileInfo file(const QString& name, C category)
{
    FileInfo info;
    const SplitName split = splitFileName(name);
    info.name = name;
    info.baseName = split.baseName;
    info.ext = split.ext;
    info.category = category;
    info.format = formatForExtension(split.ext);
    return info;
}

OperationDescriptor conversion(C category, const char* target,
                               EngineID engine = EngineID::of(EngineID::Kind::imageIO))
{
    ConversionRecipe recipe;
    recipe.categories = {category};
    recipe.target = QString::fromLatin1(target);
    recipe.title = recipe.target.toUpper();
    recipe.engine = engine;
    return makeConversionDescriptor(recipe);
}

OperationDescriptor tool(C category, const char* name, M mode = M::each,
                         QSet<C> categories = {})
{
    OperationDescriptor d;
    d.id = QStringLiteral("tool.") + toString(category) + QLatin1Char('.') + QLatin1String(name);
    d.group = QString::fromLatin1(name);
    d.title = d.group;
    d.symbol = QStringLiteral("wand");
    d.wheel = WheelKind::tools;
    d.categories = categories.isEmpty() ? QSet<C>{category} : categories;
    d.multiFile = mode;
    return d;
}

QStringList entryIDs(const QList<WheelEntry>& entries)
{
    QStringList ids;
    for (const WheelEntry& e : entries)
        ids.append(e.id);
    return ids;
}

class ToolRegistryTest : public ::testing::Test {
protected:
    ToolRegistryTest() : store(QString()) { registerDefaultSettings(store); }

    ToolRegistry registry(QList<OperationDescriptor> list, ToolRegistry::EngineCheck check = {})
    {
        return ToolRegistry(std::move(list), std::move(check), &store);
    }

    SettingsStore store;
};

} // namespace

TEST_F(ToolRegistryTest, HomogeneousSelectionFollowsTheDefaultOrder)
{
    const auto reg = registry({
        conversion(C::image, "bmp"), conversion(C::image, "gif"), conversion(C::image, "jpg"),
        conversion(C::image, "png"), conversion(C::image, "heic"), conversion(C::document, "pdf"),
        conversion(C::image, "pdf"), tool(C::image, "resize"),
    });
    // Already a JPEG: no "convert.image.jpg"; unlisted bmp goes after the default order.
    const QList<WheelEntry> jpeg = reg.wheelEntries({file(QStringLiteral("a.jpg"), C::image)},
                                                    WheelKind::convert);
    EXPECT_EQ(entryIDs(jpeg), QStringList({"convert.image.png", "convert.image.heic",
                                           "convert.image.pdf", "convert.image.gif",
                                           "convert.image.bmp"}));
    EXPECT_EQ(jpeg.first().wheel, WheelKind::convert);
    EXPECT_EQ(jpeg.first().operations.size(), 1);
    EXPECT_EQ(jpeg.first().title, QStringLiteral("PNG"));

    // HEIF counts as HEIC already.
    const QStringList heif = entryIDs(
        reg.wheelEntries({file(QStringLiteral("a.heif"), C::image)}, WheelKind::convert));
    EXPECT_FALSE(heif.contains(QStringLiteral("convert.image.heic")));
    EXPECT_TRUE(heif.contains(QStringLiteral("convert.image.jpg")));

    EXPECT_TRUE(reg.wheelEntries({}, WheelKind::convert).isEmpty());

    // single and minimumFiles decide for homogeneous selections too.
    OperationDescriptor merge = tool(C::pdf, "merge", M::combine);
    merge.minimumFiles = 2;
    const auto pdfs = registry({merge, tool(C::pdf, "redact", M::single)});
    const FileInfo pdf = file(QStringLiteral("a.pdf"), C::pdf);
    EXPECT_EQ(entryIDs(pdfs.wheelEntries({pdf}, WheelKind::tools)),
              QStringList({"tool.pdf.redact"}));
    EXPECT_EQ(entryIDs(pdfs.wheelEntries({pdf, pdf}, WheelKind::tools)),
              QStringList({"tool.pdf.merge"}));
}

TEST_F(ToolRegistryTest, MixedSelectionMergesOperationsOfOneGroup)
{
    const auto reg = registry({
        tool(C::image, "rotate"), tool(C::image, "compress"), tool(C::image, "crop", M::single),
        tool(C::image, "strip"), tool(C::pdf, "compress"), tool(C::pdf, "crop", M::single),
        tool(C::image, "stamp", M::each, {C::image, C::pdf}),
        tool(C::pdf, "bundle", M::batch, {C::image, C::pdf}),
        tool(C::pdf, "strip", M::batch, {C::image, C::pdf}),
    });
    const FileInfo image = file(QStringLiteral("a.png"), C::image);
    const FileInfo pdf = file(QStringLiteral("b.pdf"), C::pdf);
    EXPECT_EQ(categoriesByCount({pdf, image, image, pdf}), QList<C>({C::pdf, C::image}));
    EXPECT_EQ(categoriesByCount({image, pdf, image, pdf, pdf}), QList<C>({C::pdf, C::image}));

    const QList<WheelEntry> entries = reg.wheelEntries({image, pdf, image, image}, WheelKind::tools);
    // Dominant image: "tool.image.compress" ranks first through the entry's operations; the
    // rest keep catalogue order. rotate has no PDF member and crop is single: both gone.
    ASSERT_EQ(entryIDs(entries), QStringList({"compress", "strip", "stamp", "bundle"}));

    const WheelEntry& compress = entries[0];
    EXPECT_EQ(compress.wheel, WheelKind::tools);
    EXPECT_EQ(compress.operationIDs(), QStringList({"tool.image.compress", "tool.pdf.compress"}));
    EXPECT_EQ(compress.operationForFile(pdf)->id, QStringLiteral("tool.pdf.compress"));

    // A batch member covering the whole selection stands alone, ahead of per-category picks.
    EXPECT_EQ(entries[1].operationIDs(), QStringList({"tool.pdf.strip"}));
    // One member serving both categories is not picked twice.
    EXPECT_EQ(entries[2].operationIDs(), QStringList({"tool.image.stamp"}));
    EXPECT_EQ(entries[2].title, QStringLiteral("stamp"));

    // A batch member that needs more files than given falls back to per-category members.
    OperationDescriptor bigBatch = tool(C::pdf, "pack", M::batch, {C::image, C::pdf});
    bigBatch.minimumFiles = 5;
    const auto packs = registry({bigBatch, tool(C::image, "pack"), tool(C::pdf, "pack")});
    EXPECT_EQ(packs.wheelEntries({image, pdf}, WheelKind::tools).value(0).operationIDs(),
              QStringList({"tool.image.pack", "tool.pdf.pack"}));
}

TEST_F(ToolRegistryTest, LargeSelectionsAskEachKindOfFileOnce)
{
    // Accept tests answer for a kind of file; a file of no known format may be read, so it
    // is asked about on its own.
    QHash<QString, int> asked;
    OperationDescriptor stamp = tool(C::image, "stamp", M::each, {C::image, C::pdf, C::other});
    stamp.accepts = [&asked](const FileInfo& f) {
        ++asked[f.name];
        return !f.isEncrypted && f.name != QLatin1String("unreadable");
    };
    OperationDescriptor merge = tool(C::pdf, "merge", M::combine);
    merge.minimumFiles = 3;
    const auto reg = registry({stamp, merge, tool(C::pdf, "crop", M::single)});

    QList<FileInfo> photos;
    for (int i = 0; i < 5000; ++i)
        photos.append(file(QStringLiteral("IMG_%1.jpg").arg(i), C::image));
    EXPECT_EQ(entryIDs(reg.wheelEntries(photos, WheelKind::tools)), QStringList({"tool.image.stamp"}));
    EXPECT_EQ(asked.size(), 1);

    // Counts still decide: two PDFs are too few to merge, three are enough; one alone crops.
    FileInfo pdf = file(QStringLiteral("a.pdf"), C::pdf);
    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf, pdf}, WheelKind::tools)), QStringList({"tool.image.stamp"}));
    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf, pdf, pdf}, WheelKind::tools)),
              QStringList({"tool.pdf.merge", "tool.image.stamp"}));
    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf}, WheelKind::tools)),
              QStringList({"tool.image.stamp", "tool.pdf.crop"}));

    // One locked PDF among many like it is still its own kind, and refuses for them all.
    FileInfo locked = pdf;
    locked.isEncrypted = true;
    QList<FileInfo> mixed = photos;
    mixed.append(locked);
    EXPECT_TRUE(entryIDs(reg.wheelEntries(mixed, WheelKind::tools)).isEmpty());

    asked.clear();
    FileInfo readable = file(QStringLiteral("notes"), C::other);
    FileInfo unreadable = file(QStringLiteral("unreadable"), C::other);
    readable.url = QUrl::fromLocalFile(QStringLiteral("/tmp/notes"));
    unreadable.url = QUrl::fromLocalFile(QStringLiteral("/tmp/unreadable"));
    EXPECT_TRUE(reg.wheelEntries({readable, unreadable, readable}, WheelKind::tools).isEmpty());
    EXPECT_EQ(asked.value(QStringLiteral("unreadable")), 1);
    EXPECT_EQ(entryIDs(reg.wheelEntries({readable, readable}, WheelKind::tools)), QStringList({"tool.image.stamp"}));
}

TEST_F(ToolRegistryTest, UnavailableEnginesHideTheirOperations)
{
    const EngineID ffmpeg = EngineID::of(EngineID::Kind::ffmpeg);
    const auto reg = registry({conversion(C::video, "mp4", ffmpeg), conversion(C::video, "mov", ffmpeg),
                               conversion(C::video, "webm", EngineID::of(EngineID::Kind::system))},
                              [&](const EngineID& engine) { return !(engine == ffmpeg); });
    const FileInfo video = file(QStringLiteral("a.mkv"), C::video);
    EXPECT_EQ(entryIDs(reg.wheelEntries({video}, WheelKind::convert)),
              QStringList({"convert.video.webm"}));
    // The settings may still arrange them.
    EXPECT_EQ(reg.descriptorsForCategory(WheelKind::convert, C::video).size(), 3);
    EXPECT_TRUE(reg.descriptorsForCategory(WheelKind::tools, C::video).isEmpty());
}

TEST_F(ToolRegistryTest, StoredOrdersRankByIdOrGroup)
{
    QList<OperationDescriptor> list;
    for (const char* name : {"merge", "split", "compress", "rotate", "ocr"})
        list.append(tool(C::pdf, name));
    const auto reg = registry(list);
    const FileInfo pdf = file(QStringLiteral("a.pdf"), C::pdf);
    const QString key = wheelOrderKey(WheelKind::tools, C::pdf);
    ASSERT_EQ(key, QStringLiteral("quorvenda.wheel.tools.pdf"));

    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf}, WheelKind::tools)),
              QStringList({"tool.pdf.merge", "tool.pdf.split", "tool.pdf.compress",
                           "tool.pdf.rotate", "tool.pdf.ocr"}));

    store.setValue(key, QStringList{QStringLiteral("tool.pdf.ocr")});
    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf}, WheelKind::tools)),
              QStringList({"tool.pdf.ocr", "tool.pdf.merge", "tool.pdf.split",
                           "tool.pdf.compress", "tool.pdf.rotate"}));

    // Groups rank too; an unknown id ranks nothing.
    store.setValue(key, QStringList{QStringLiteral("nothing"), QStringLiteral("rotate"),
                                    QStringLiteral("split")});
    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf}, WheelKind::tools)).mid(0, 2),
              QStringList({"tool.pdf.rotate", "tool.pdf.split"}));

    // An empty stored order replaces the default: catalogue order.
    store.setValue(key, QStringList());
    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf}, WheelKind::tools)),
              QStringList({"tool.pdf.merge", "tool.pdf.split", "tool.pdf.compress",
                           "tool.pdf.rotate", "tool.pdf.ocr"}));

    // A value that is not a list of texts counts as none stored.
    store.setValue(key, QVariantList{QStringLiteral("tool.pdf.ocr"), 3});
    EXPECT_EQ(entryIDs(reg.wheelEntries({pdf}, WheelKind::tools)).first(),
              QStringLiteral("tool.pdf.merge"));

    // Mixed selections rank by the group names of their operations as well.
    const auto mixed = registry({tool(C::image, "a", M::batch, {C::image, C::pdf}),
                                 tool(C::image, "b", M::batch, {C::image, C::pdf})});
    store.setValue(wheelOrderKey(WheelKind::tools, C::image), QStringList{QStringLiteral("b")});
    EXPECT_EQ(entryIDs(mixed.wheelEntries({file(QStringLiteral("x.png"), C::image), pdf},
                                          WheelKind::tools)),
              QStringList({"b", "a"}));
}

TEST_F(ToolRegistryTest, ManyEntriesOverflowIntoTheMoreRing)
{
    QList<OperationDescriptor> list;
    for (int i = 0; i < 30; ++i)
        list.append(tool(C::audio, qPrintable(QStringLiteral("t%1").arg(i))));
    const WheelContent content = registry(list).wheelContentForSelection(
        {file(QStringLiteral("a.mp3"), C::audio)}, WheelKind::tools);
    ASSERT_EQ(content.segments.size(), 8);
    EXPECT_EQ(content.segments[6].id, QStringLiteral("tool.audio.t6"));
    EXPECT_TRUE(content.segments[7].isMore());
    ASSERT_EQ(content.overflow.size(), 16);
    EXPECT_EQ(content.overflow.first().id, QStringLiteral("tool.audio.t7"));
    EXPECT_EQ(content.overflow.last().id, QStringLiteral("tool.audio.t22"));
    EXPECT_FALSE(content.message.has_value());
}

TEST_F(ToolRegistryTest, EmptyWheelsSayWhy)
{
    const auto reg = registry({conversion(C::image, "png"), conversion(C::audio, "mp3")});
    FileInfo folder = file(QStringLiteral("Photos"), C::folder);
    folder.isDirectory = true;
    const FileInfo image = file(QStringLiteral("a.png"), C::image);
    const FileInfo audio = file(QStringLiteral("a.mp3"), C::audio);
    const auto message = [&](const QList<FileInfo>& files, WheelKind kind) {
        return reg.wheelContentForSelection(files, kind).message.value_or(QStringLiteral("<none>"));
    };

    EXPECT_EQ(message({folder}, WheelKind::convert),
              QStringLiteral("Folders can't be converted\nTry Super for Tools"));
    EXPECT_EQ(message({image, audio}, WheelKind::convert),
              QStringLiteral("No common formats\nTry Ctrl for Actions"));
    EXPECT_EQ(message({image}, WheelKind::convert), QStringLiteral("No conversions for this file"));
    EXPECT_EQ(message({folder, image}, WheelKind::convert).left(17),
              QStringLiteral("No common formats"));
    EXPECT_EQ(message({image}, WheelKind::tools), QStringLiteral("No tools for this selection"));
    EXPECT_EQ(message({image}, WheelKind::actions), QStringLiteral("No actions available"));

    store.setValue(SettingsKey::triggerActions, QStringLiteral("off"));
    store.setValue(SettingsKey::triggerTools, QStringLiteral("option"));
    EXPECT_EQ(message({image, audio}, WheelKind::convert),
              QStringLiteral("No common formats\nTry  for Actions"));
    EXPECT_EQ(message({folder}, WheelKind::convert),
              QStringLiteral("Folders can't be converted\nTry Alt for Tools"));
}

TEST_F(ToolRegistryTest, PipesDevicesAndUnreadableNamesAreOfferedNothing)
{
    const auto reg = registry({conversion(C::image, "png"), tool(C::image, "resize"),
                               makeActionDescriptor(ActionKind::move, QStringLiteral("Move"), QStringLiteral("folder"))});
    FileInfo image = file(QStringLiteral("a.jpg"), C::image);
    image.url = QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"));
    FileInfo pipe = file(QStringLiteral("fifo.jpg"), C::other);
    pipe.contentType = QStringLiteral("inode/fifo");
    FileInfo zero = file(QStringLiteral("zero.jpg"), C::other);
    zero.contentType = QStringLiteral("inode/chardevice");
    // Qt reads "x\xff.jpg" as the name of its twin "x\uFFFD.jpg".
    FileInfo odd = fileInfoFromName(fileUrlForNativePath("/tmp/x\xff.jpg"));
    odd.category = C::other;

    EXPECT_FALSE(reg.wheelEntries({image}, WheelKind::actions).isEmpty());
    for (const WheelKind kind : {WheelKind::convert, WheelKind::tools, WheelKind::actions}) {
        EXPECT_TRUE(reg.wheelEntries({pipe}, kind).isEmpty());
        EXPECT_TRUE(reg.wheelEntries({image, zero}, kind).isEmpty());
        EXPECT_TRUE(reg.wheelEntries({odd, image}, kind).isEmpty());
        EXPECT_EQ(reg.wheelContentForSelection({image, pipe}, kind).message,
                  QStringLiteral("This is a pipe, not a file Quorvenda can read"));
        EXPECT_EQ(reg.wheelContentForSelection({zero}, kind).message,
                  QStringLiteral("This is a device, not a file Quorvenda can read"));
        EXPECT_EQ(reg.wheelContentForSelection({odd}, kind).message, QStringLiteral("Quorvenda can't read this file's name"));
    }
}

TEST(DefaultWheelItems, TablesByWheelAndCategory)
{
    EXPECT_EQ(defaultWheelItems(WheelKind::convert, FileCategory::image).first(),
              QStringLiteral("convert.image.jpg"));
    EXPECT_EQ(defaultWheelItems(WheelKind::convert, FileCategory::archive).last(),
              QStringLiteral("convert.archive.tar.gz"));
    EXPECT_TRUE(defaultWheelItems(WheelKind::convert, FileCategory::folder).isEmpty());
    EXPECT_TRUE(defaultWheelItems(WheelKind::tools, FileCategory::presentation).isEmpty());
    EXPECT_EQ(defaultWheelItems(WheelKind::tools, FileCategory::folder),
              QStringList({"tool.folder.zip", "tool.folder.flatten"}));
    const QStringList actions{"action.airdrop", "action.float",    "action.copy",
                              "action.move",    "action.copypath", "action.terminal",
                              "action.share",   "action.quicklook"};
    EXPECT_EQ(defaultWheelItems(WheelKind::actions, FileCategory::other), actions);
    EXPECT_EQ(defaultWheelItems(WheelKind::actions, FileCategory::video), actions);
}

TEST(ArchiveCatalogue, OffersWhatEachArchiveCanTake)
{
    const auto ids = [](qv::WheelKind kind, const QStringList& names) {
        QList<qv::FileInfo> files;
        for (const QString& name : names)
            files.append(qv::fileInfoForURL(QUrl::fromLocalFile(QStringLiteral("/nonexistent/") + name)));
        QStringList list;
        for (const auto& segment : qv::wheelContentForSelection(files, kind).segments)
            list.append(segment.id);
        return list;
    };
    using qv::WheelKind;
    EXPECT_EQ(ids(WheelKind::convert, {"a.zip"}), (QStringList{"convert.archive.tar", "convert.archive.tar.gz"}));
    EXPECT_EQ(ids(WheelKind::tools, {"a.zip"}),
              (QStringList{"tool.archive.extract", "tool.archive.test", "tool.folder.zip"}));
    EXPECT_EQ(ids(WheelKind::tools, {"a.tar.gz"}),
              (QStringList{"tool.archive.extract", "tool.archive.test", "tool.archive.zip", "tool.folder.zip"}));
    // A single compressed file is extracted and tested, never re-packed.
    EXPECT_TRUE(ids(WheelKind::convert, {"a.txt.gz"}).isEmpty());
    EXPECT_EQ(ids(WheelKind::tools, {"log.gz"}).mid(0, 2),
              (QStringList{"tool.archive.extract", "tool.archive.test"}));
}
