#include "catalogue/lists/FileTests.h"
#include "catalogue/lists/QuickActionCatalogue.h"
#include "catalogue/OperationFactories.h"
#include "catalogue/ToolRegistry.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "jobs/OutputPlanner.h"
#include "model/operations/Progress.h"
#include "platform/settings/SettingsStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qv;

namespace {

FileInfo withFormat(const char* ext, FileCategory category)
{
    FileInfo info;
    info.ext = QString::fromLatin1(ext);
    info.format = formatForExtension(info.ext);
    info.category = category;
    return info;
}

} // namespace

TEST(QuickActionCatalogue, EightActionsInKindOrder)
{
    const QList<OperationDescriptor>& actions = quickActionDescriptors();
    ASSERT_EQ(actions.size(), 8);
    QStringList ids, groups, titles;
    for (const OperationDescriptor& d : actions) {
        ids.append(d.id);
        groups.append(d.group);
        titles.append(d.title);
        EXPECT_EQ(d.wheel, WheelKind::actions);
        EXPECT_EQ(d.categories.size(), 12);
        EXPECT_EQ(d.multiFile, MultiFileMode::batch);
        // Sending needs KDE Connect: without it the entry leaves the wheel.
        EXPECT_EQ(d.engine, EngineID::of(d.id == "action.airdrop" ? EngineID::Kind::deviceSharing
                                                                  : EngineID::Kind::system));
        EXPECT_EQ(d.verb, d.title);
        EXPECT_FALSE(d.make);
        EXPECT_FALSE(d.outputExtension.has_value());
    }
    EXPECT_EQ(ids, QStringList({"action.airdrop", "action.float", "action.copy", "action.move",
                                "action.copypath", "action.terminal", "action.share",
                                "action.quicklook"}));
    EXPECT_EQ(groups, QStringList({"airDrop", "float", "copy", "move", "copyPath", "terminal",
                                   "share", "quickLook"}));
    EXPECT_EQ(titles, QStringList({"Send to Device", "Float", "Copy", "Move", "Copy Path",
                                   "Terminal", "Share", "Preview"}));
    EXPECT_EQ(actions[4].behavior, OperationBehavior::actionOf(ActionKind::copyPath));
    EXPECT_EQ(actions[0].symbol, QStringLiteral("dot.radiowaves.up.forward"));

    // Mixed selections get each action as its own entry; no file, no action.
    SettingsStore store{QString()};
    const ToolRegistry registry(actions, {}, &store);
    FileInfo folder = withFormat("", FileCategory::folder);
    const QList<WheelEntry> entries = registry.wheelEntries(
        {withFormat("jpg", FileCategory::image), withFormat("pdf", FileCategory::pdf), folder},
        WheelKind::actions);
    ASSERT_EQ(entries.size(), 8);
    EXPECT_EQ(entries[7].operationIDs(), QStringList({"action.quicklook"}));
    EXPECT_TRUE(registry.wheelEntries({}, WheelKind::actions).isEmpty());
    EXPECT_EQ(registry.wheelContentForSelection({}, WheelKind::actions).message,
              QStringLiteral("No actions available"));
}

TEST(ConversionRecipe, DescriptorAndAcceptTest)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::archive};
    recipe.target = QStringLiteral("tar.gz");
    recipe.title = QStringLiteral("TAR.GZ");
    recipe.engine = EngineID::of(EngineID::Kind::archive);
    const OperationDescriptor d = makeConversionDescriptor(recipe);
    EXPECT_EQ(d.id, QStringLiteral("convert.archive.tar.gz"));
    EXPECT_EQ(d.group, QStringLiteral("tar.gz"));
    EXPECT_EQ(d.verb, QStringLiteral("Converting to TAR.GZ"));
    EXPECT_EQ(d.outputExtension, QStringLiteral("tar.gz"));
    EXPECT_EQ(d.wheel, WheelKind::convert);
    EXPECT_FALSE(d.symbol.has_value());
    EXPECT_EQ(d.behavior, OperationBehavior::run());
    EXPECT_FALSE(d.accepts(withFormat("tar.gz", FileCategory::archive)));
    EXPECT_TRUE(d.accepts(withFormat("zip", FileCategory::archive)));

    EXPECT_EQ(sameFormatIDs(QStringLiteral("heic")), QSet<QString>({"heic", "heif"}));
    for (const char* target : {"alac", "hevc", "prores", "webp-animated"})
        EXPECT_TRUE(sameFormatIDs(QString::fromLatin1(target)).isEmpty()) << target;

    // Without a format the extension is the key, and a required set refuses it.
    FileInfo unknown;
    unknown.ext = QStringLiteral("zzz");
    EXPECT_FALSE(conversionAccepts(unknown, {QStringLiteral("zzz")}, std::nullopt, {}));
    EXPECT_TRUE(conversionAccepts(unknown, {}, std::nullopt, {}));
    EXPECT_FALSE(conversionAccepts(unknown, {}, QSet<QString>{QStringLiteral("zzz")}, {}));
    const FileInfo gif = withFormat("gif", FileCategory::image);
    EXPECT_TRUE(conversionAccepts(gif, {}, QSet<QString>{QStringLiteral("gif")}, {}));
    EXPECT_FALSE(conversionAccepts(gif, {}, std::nullopt, &isAnimated));
    FileInfo animated = gif;
    animated.frameCount = 3;
    EXPECT_TRUE(conversionAccepts(animated, {}, std::nullopt, &isAnimated));
}

TEST(OperationFactories, AdaptersCallTheBodyOnlyWithFiles)
{
    OperationContext context;
    context.options.rotation = 90;
    int calls = 0;
    QList<int> seenRotations;
    const OperationBody single = singleOutputAdapter(
        [&](const QUrl& file, const OperationContext& ctx, OutputPlanner&, Progress&) {
            ++calls;
            seenRotations.append(ctx.options.rotation.value_or(0));
            return QUrl(file.toString() + QStringLiteral(".out"));
        });
    const OperationBody notes = noOutputAdapter(
        [&](const QUrl&, const OperationContext&, OutputPlanner&, Progress&) { ++calls; });

    // Making does no work; running hands the copied context to the body.
    const auto operation = blockFactory(single)(context);
    const auto noteOperation = makeConversionOperation(context, notes);
    EXPECT_EQ(calls, 0);

    QTemporaryDir dir;
    OutputPlanner planner(QUrl::fromLocalFile(dir.filePath(QStringLiteral("a.txt"))),
                          SettingsSnapshot());
    Progress progress(1000);
    EXPECT_TRUE(operation->run({}, planner, progress).isEmpty());
    EXPECT_EQ(calls, 0);
    const QList<QUrl> result = operation->run(
        {QUrl(QStringLiteral("file:///a")), QUrl(QStringLiteral("file:///b"))}, planner, progress);
    EXPECT_EQ(result, QList<QUrl>({QUrl(QStringLiteral("file:///a.out"))}));
    EXPECT_EQ(seenRotations, QList<int>({90}));

    EXPECT_TRUE(noteOperation->run({}, planner, progress).isEmpty());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(noteOperation->run({QUrl(QStringLiteral("file:///a"))}, planner, progress).isEmpty());
    EXPECT_EQ(calls, 2);

    const OperationBody failing = noOutputAdapter(
        [](const QUrl&, const OperationContext&, OutputPlanner&, Progress&) {
            throw std::runtime_error("boom");
        });
    EXPECT_THROW(failing(context, {QUrl(QStringLiteral("file:///a"))}, planner, progress),
                 std::runtime_error);
}
