#include "catalogue/lists/ArchiveCatalogue.h"

#include "catalogue/archives/ArchiveOperations.h"
#include "catalogue/archives/RarBlockChain.h"
#include "catalogue/archives/UnarExtraction.h"
#include "catalogue/lists/FileTests.h"
#include "catalogue/OperationFactories.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "model/operations/Capabilities.h"

namespace qv {

namespace {

QString formatKey(const FileInfo& file)
{
    return file.format ? file.format->id : file.ext;
}

bool isSingleFileCompression(const FileInfo& file)
{
    const QString key = formatKey(file);
    return key == QLatin1String("gz") || key == QLatin1String("bz2") || key == QLatin1String("xz");
}

OperationDescriptor archiveTool(const char* id, const char* group, const char* title,
                                const char* symbol, const char* verb)
{
    OperationDescriptor d;
    d.id = QString::fromLatin1(id);
    d.wheel = WheelKind::tools;
    d.group = QString::fromLatin1(group);
    d.title = QString::fromLatin1(title);
    d.symbol = QString::fromLatin1(symbol);
    d.categories = {FileCategory::archive};
    d.accepts = isReadableArchive;
    d.multiFile = MultiFileMode::each;
    d.behavior = OperationBehavior::run();
    d.engine = EngineID::of(EngineID::Kind::archive);
    d.lane = JobLane::cpu;
    d.verb = QString::fromLatin1(verb);
    return d;
}

// The single file of an each-item, as the context describes it.
const FileInfo& itemFile(const OperationContext& context)
{
    return context.files.first();
}

} // namespace

bool isReadableArchive(const FileInfo& file)
{
    const QString key = formatKey(file);
    if (!Capabilities::shared().archiveFormats().contains(key))
        return false;
    // A later part of a set alone holds no file it can give whole.
    if (key == QLatin1String("rar") && !file.isPromise && RarBlockChain::isLaterVolumeFile(file.path()))
        return false;
    // libarchive fails on the second file of a solid RAR 4 and on a zip's older methods: unar
    // unpacks them, where it is there.
    return file.isPromise || UnarExtraction::isAvailable() || !UnarExtraction::needs(file.path(), key);
}

OperationDescriptor makeArchiveConversion(ArchiveTarget target)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::archive};
    recipe.target = archiveExtension(target);
    recipe.title = archiveDisplayText(target);
    recipe.engine = EngineID::of(EngineID::Kind::archive);
    recipe.extraTest = [](const FileInfo& file) {
        // A single compressed file is not an archive to re-pack.
        return isReadableArchive(file) && !isSingleFileCompression(file);
    };
    recipe.run = singleOutputAdapter(
        [target](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return convertArchive(itemFile(context), target, planner, progress, context.stopToken);
        });
    return makeConversionDescriptor(recipe);
}

const QList<OperationDescriptor>& archiveDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        QList<OperationDescriptor> all;
        for (ArchiveTarget target : allCases<ArchiveTarget>())
            all.append(makeArchiveConversion(target));

        OperationDescriptor extract =
            archiveTool("tool.archive.extract", "extract", "Extract", "archivebox", "Extracting");
        extract.namesFromContents = true;
        extract.make = blockFactory(singleOutputAdapter(
            [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
                return extractArchive(itemFile(context), planner, progress, context.stopToken);
            }));
        all.append(extract);

        OperationDescriptor test =
            archiveTool("tool.archive.test", "test", "Test", "checkmark.shield", "Testing");
        test.make = blockFactory(noOutputAdapter(
            [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
                context.notes->addMessage(
                    testArchive(itemFile(context), planner, progress, context.stopToken));
            }));
        all.append(test);

        OperationDescriptor toZip =
            archiveTool("tool.archive.zip", "zip", "To ZIP", "doc.zipper", "Converting to ZIP");
        toZip.accepts = [](const FileInfo& file) {
            return isReadableArchive(file) && formatKey(file) != QLatin1String("zip");
        };
        toZip.outputExtension = QStringLiteral("zip");
        toZip.make = blockFactory(singleOutputAdapter(
            [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
                return convertArchive(itemFile(context), ArchiveTarget::zip, planner, progress,
                                      context.stopToken);
            }));
        all.append(toZip);
        return all;
    }();
    return list;
}

const QList<OperationDescriptor>& folderDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        OperationDescriptor zip = archiveTool("tool.folder.zip", "zip", "ZIP", "doc.zipper",
                                              "Compressing to ZIP");
        const QList<FileCategory> every = allCases<FileCategory>();
        zip.categories = QSet<FileCategory>(every.begin(), every.end());
        zip.accepts = isNotPromise;
        zip.multiFile = MultiFileMode::batch;
        zip.outputExtension = QStringLiteral("zip");
        zip.make = blockFactory([](const OperationContext& context, const QList<QUrl>&,
                                   OutputPlanner& planner, Progress& progress) -> QList<QUrl> {
            return {zipFiles(context.files, planner, progress, context.stopToken)};
        });

        OperationDescriptor flatten = archiveTool("tool.folder.flatten", "flatten", "Flatten",
                                                  "square.stack.3d.down.right", "Flattening");
        flatten.categories = {FileCategory::folder};
        flatten.accepts = acceptsAlways;
        flatten.make = blockFactory(singleOutputAdapter(
            [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
                return flattenFolder(itemFile(context), planner, progress, context.stopToken);
            }));
        return QList<OperationDescriptor>{zip, flatten};
    }();
    return list;
}

} // namespace qv
