#include "catalogue/lists/SubtitleCatalogue.h"

#include "catalogue/OperationFactories.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "documents/readers/TextLoaders.h"
#include "documents/subtitles/Subtitles.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/operations/Progress.h"
#include "platform/files/FileContents.h"

#include <QUuid>

namespace qv {

namespace {

// The file's cues; bytes read as U+FFFD are told in the job's messages.
LoadedSubtitles loadNoting(const FileInfo& file, OutputPlanner& planner)
{
    LoadedSubtitles loaded = loadSubtitles(file.path());
    if (loaded.replaced > 0 && planner.notes())
        planner.notes()->addMessage(TextLoaders::replacementNote(file.name, loaded.replaced));
    if (loaded.skipped > 0 && planner.notes())
        planner.notes()->addMessage(skippedCuesNote(file.name, loaded.skipped));
    return loaded;
}

// Writes the text into a fresh work file and delivers it under the name.
QUrl deliverText(const QString& text, const QString& baseName, const QString& extension,
                 OutputPlanner& planner)
{
    const QUrl work =
        planner.workURL(extension, QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (const auto error = FileContents::createNew(work.toLocalFile(), text.toUtf8()))
        throw *error;
    return planner.deliver(work, baseName, extension);
}

QUrl convertSubtitles(const FileInfo& file, SubtitleFormat format, OutputPlanner& planner,
                      Progress& progress)
{
    const LoadedSubtitles loaded = loadNoting(file, planner);
    reportProgress(0.5, progress);
    return deliverText(subtitleText(loaded.cues, format), splitFileName(file.name).baseName,
                       subtitleExtension(format), planner);
}

QUrl shiftSubtitles(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                    Progress& progress)
{
    const LoadedSubtitles loaded = loadNoting(file, planner);
    reportProgress(0.5, progress);
    const qint64 ms = context.options.subtitleShiftMilliseconds.value_or(0);
    const QString text = subtitleText(shiftCues(loaded.cues, ms), loaded.format);
    const QString word = context.settings.suffixForOperation(QStringLiteral("shift"));
    const QString label = shiftLabel(ms);
    const QString baseName = splitFileName(file.name).baseName + QLatin1String(" (")
        + (word.isEmpty() ? label : word + QLatin1Char(' ') + label) + QLatin1Char(')');
    return deliverText(text, baseName, file.ext, planner);
}

QList<QUrl> mergeSubtitles(const OperationContext& context, OutputPlanner& planner,
                           Progress& progress)
{
    QList<QList<SubtitleCue>> lists;
    for (qsizetype i = 0; i < context.files.size(); ++i) {
        throwIfCancelled(context.stopToken);
        lists.append(loadNoting(context.files[i], planner).cues);
        reportProgress(0.8 * double(i + 1) / double(context.files.size()), progress);
    }
    const SubtitleFormat format = context.files.isEmpty()
        ? SubtitleFormat::srt
        : subtitleFormatForFileName(context.files.first().name);
    const QString text = subtitleText(mergeCues(lists), format);
    const QString baseName =
        planner.outputBaseName(context.settings.suffixForOperation(QStringLiteral("merge")));
    return {deliverText(text, baseName, subtitleExtension(format), planner)};
}

OperationDescriptor subtitleTool(const char* id, const char* group, const char* title,
                                 const char* symbol, const char* verb)
{
    OperationDescriptor d;
    d.id = QString::fromLatin1(id);
    d.wheel = WheelKind::tools;
    d.group = QString::fromLatin1(group);
    d.title = QString::fromLatin1(title);
    d.symbol = QString::fromLatin1(symbol);
    d.categories = {FileCategory::subtitle};
    d.engine = EngineID::of(EngineID::Kind::subtitle);
    d.lane = JobLane::cpu;
    d.verb = QString::fromLatin1(verb);
    return d;
}

} // namespace

QString shiftLabel(qint64 milliseconds)
{
    return (milliseconds >= 0 ? QStringLiteral("+") : QString()) + QString::number(milliseconds)
        + QLatin1String(" ms");
}

OperationDescriptor makeSubtitleConversion(SubtitleFormat format)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::subtitle};
    recipe.target = subtitleExtension(format);
    recipe.title = recipe.target.toUpper();
    recipe.engine = EngineID::of(EngineID::Kind::subtitle);
    recipe.lane = JobLane::cpu;
    recipe.run = singleOutputAdapter(
        [format](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return convertSubtitles(context.files.first(), format, planner, progress);
        });
    return makeConversionDescriptor(recipe);
}

const QList<OperationDescriptor>& subtitleDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        QList<OperationDescriptor> all;
        using F = SubtitleFormat;
        for (F format : {F::srt, F::vtt, F::ass, F::txt, F::ssa})
            all.append(makeSubtitleConversion(format));

        OperationDescriptor shift = subtitleTool("tool.subtitle.shift", "shift", "Shift Timing",
                                                 "clock.arrow.2.circlepath", "Shifting timing");
        shift.behavior = OperationBehavior::sheet();
        shift.optionFields = {OptionField::subtitleShift};
        shift.make = blockFactory(singleOutputAdapter(
            [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
                return shiftSubtitles(context.files.first(), context, planner, progress);
            }));
        all.append(shift);

        OperationDescriptor merge = subtitleTool("tool.subtitle.merge", "merge", "Merge",
                                                 "text.bubble", "Merging");
        merge.behavior = OperationBehavior::run();
        merge.multiFile = MultiFileMode::combine;
        merge.minimumFiles = 2;
        merge.optionFields = {OptionField::mergeOrder};
        merge.make = blockFactory([](const OperationContext& context, const QList<QUrl>&,
                                     OutputPlanner& planner, Progress& progress) {
            return mergeSubtitles(context, planner, progress);
        });
        all.append(merge);
        return all;
    }();
    return list;
}

} // namespace qv
