#include "catalogue/ToolRegistry.h"

#include "model/operations/Capabilities.h"

#include "catalogue/lists/QuickActionCatalogue.h"
#include "catalogue/tools/AllToolDescriptors.h"
#include "model/settings/ModifierGlyph.h"
#include "model/settings/SettingsReaders.h"
#include "platform/files/InputFile.h"
#include "platform/settings/SettingsStore.h"

#include <algorithm>
#include <climits>

namespace qv {

namespace {

using C = FileCategory;

QStringList prefixed(const QString& prefix, std::initializer_list<const char*> names)
{
    QStringList ids;
    for (const char* name : names)
        ids.append(prefix + QLatin1String(name));
    return ids;
}

const QHash<FileCategory, QStringList>& defaultConvertOrder()
{
    static const QHash<FileCategory, QStringList> table{
        {C::image, prefixed(QStringLiteral("convert.image."),
                            {"jpg", "png", "heic", "webp", "avif", "pdf", "tiff", "gif"})},
        {C::video, prefixed(QStringLiteral("convert.video."),
                            {"mp4", "mov", "webm", "gif", "mp3", "m4a", "mkv", "wav"})},
        {C::audio, prefixed(QStringLiteral("convert.audio."),
                            {"mp3", "m4a", "wav", "flac", "aiff", "ogg", "opus", "alac"})},
        {C::pdf, prefixed(QStringLiteral("convert.pdf."),
                          {"png", "jpg", "docx", "txt", "md", "html", "epub", "rtf"})},
        {C::document, prefixed(QStringLiteral("convert.document."),
                               {"pdf", "docx", "md", "txt", "html", "rtf", "epub", "odt"})},
        {C::ebook, prefixed(QStringLiteral("convert.ebook."),
                            {"pdf", "docx", "txt", "md", "html", "rtf"})},
        {C::presentation, prefixed(QStringLiteral("convert.presentation."),
                                   {"pdf", "png", "jpg", "pptx", "key"})},
        {C::spreadsheet, prefixed(QStringLiteral("convert.spreadsheet."),
                                  {"xlsx", "csv", "tsv", "pdf", "ods", "numbers"})},
        {C::subtitle, prefixed(QStringLiteral("convert.subtitle."), {"srt", "vtt", "ass", "txt"})},
        {C::archive, prefixed(QStringLiteral("convert.archive."), {"zip", "tar", "tar.gz"})},
    };
    return table;
}

const QHash<FileCategory, QStringList>& defaultToolsOrder()
{
    static const QHash<FileCategory, QStringList> table{
        {C::image, prefixed(QStringLiteral("tool.image."),
                            {"compress", "resize", "crop", "rotate", "removeBackground",
                             "removeMetadata", "edit"})},
        {C::video, prefixed(QStringLiteral("tool.video."),
                            {"compress", "trim", "crop", "split", "mute", "speed", "snapshot",
                             "removeMetadata"})},
        {C::audio, prefixed(QStringLiteral("tool.audio."),
                            {"compress", "trim", "split", "merge", "normalize", "speed", "fade",
                             "removeMetadata"})},
        {C::pdf, prefixed(QStringLiteral("tool.pdf."),
                          {"merge", "split", "compress", "rotate", "reorder", "redact",
                           "removeMetadata", "ocr"})},
        {C::document, prefixed(QStringLiteral("tool.document."),
                               {"wordCount", "merge", "removeMetadata", "pdf"})},
        {C::ebook, prefixed(QStringLiteral("tool.ebook."),
                            {"wordCount", "merge", "removeMetadata", "pdf"})},
        {C::spreadsheet, prefixed(QStringLiteral("tool.spreadsheet."), {"splitSheets", "mergeCSV"})},
        {C::subtitle, prefixed(QStringLiteral("tool.subtitle."), {"shift", "merge"})},
        {C::archive, prefixed(QStringLiteral("tool.archive."), {"extract", "test", "zip"})},
        {C::folder, prefixed(QStringLiteral("tool.folder."), {"zip", "flatten"})},
    };
    return table;
}

bool matchesOrderItem(const WheelEntry& entry, const QString& item)
{
    if (entry.id == item)
        return true;
    return std::any_of(entry.operations.begin(), entry.operations.end(),
                       [&](const OperationDescriptor& op) {
                           return op.id == item || op.group == item;
                       });
}

bool coversAll(const OperationDescriptor& op, const QList<FileInfo>& files)
{
    return std::all_of(files.begin(), files.end(), [&](const FileInfo& file) {
        return op.categories.contains(file.category) && op.accepts(file);
    });
}

// What an accept test may look at. A file of no known format may be judged by its content, so
// it is a kind of its own.
struct FileKind {
    FileCategory category = FileCategory::other;
    QString format;
    QString ext;
    std::optional<QString> contentType;
    int frameCount = 1;
    std::optional<bool> hasAudio;
    bool isDirectory = false;
    bool isPromise = false;
    bool isEncrypted = false;
    QUrl unknownFile;

    explicit FileKind(const FileInfo& file)
        : category(file.category),
          format(file.format ? file.format->id : QString()),
          ext(file.ext),
          contentType(file.contentType),
          frameCount(file.frameCount),
          hasAudio(file.hasAudio),
          isDirectory(file.isDirectory),
          isPromise(file.isPromise),
          isEncrypted(file.isEncrypted)
    {
        if (!file.format && !file.isDirectory && !file.isPromise)
            unknownFile = file.url;
    }
    bool operator==(const FileKind&) const = default;
};

size_t qHash(const FileKind& kind, size_t seed = 0)
{
    return qHashMulti(seed, int(kind.category), kind.format, kind.ext, kind.contentType.value_or(QString()),
                      kind.frameCount, kind.hasAudio ? int(*kind.hasAudio) : 2, kind.isDirectory,
                      kind.isPromise, kind.isEncrypted, kind.unknownFile);
}

bool sameKind(const FileInfo& a, const FileInfo& b)
{
    return a.category == b.category && a.ext == b.ext && a.frameCount == b.frameCount
        && a.hasAudio == b.hasAudio && a.isDirectory == b.isDirectory && a.isPromise == b.isPromise
        && a.isEncrypted == b.isEncrypted && a.contentType == b.contentType
        && a.format.has_value() == b.format.has_value() && (!a.format || a.format->id == b.format->id)
        && (a.format || a.isDirectory || a.isPromise ? true : a.url == b.url);
}

// A selection as the accept tests see it: one file of each kind answers for all of its like,
// so that ten thousand photos cost what one does.
struct SelectionSample {
    QList<FileInfo> files;  // one of each kind, in order of first sight
    QList<qsizetype> counts; // how many of the selection each stands for
    qsizetype total = 0;

    SelectionSample() = default;
    explicit SelectionSample(const QList<FileInfo>& selection)
        : SelectionSample(selection, {})
    {
    }
    // Each file standing for as many as its count says (one when counts is empty).
    SelectionSample(const QList<FileInfo>& selection, const QList<qsizetype>& weights)
    {
        QHash<FileKind, qsizetype> index;
        qsizetype last = -1;
        for (qsizetype i = 0; i < selection.size(); ++i) {
            const FileInfo& file = selection[i];
            const qsizetype weight = weights.isEmpty() ? 1 : weights.value(i, 1);
            total += weight;
            // Files of one kind mostly come together.
            if (last >= 0 && sameKind(file, files[last])) {
                counts[last] += weight;
                continue;
            }
            const FileKind kind(file);
            const auto it = index.constFind(kind);
            if (it == index.constEnd()) {
                last = files.size();
                index.insert(kind, last);
                files.append(file);
                counts.append(weight);
            } else {
                last = *it;
                counts[last] += weight;
            }
        }
    }

    // The categories, most frequent first, ties in order of first sight (categoriesByCount).
    QList<FileCategory> categories() const
    {
        QList<FileCategory> seen;
        QHash<FileCategory, qsizetype> byCategory;
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (!byCategory.contains(files[i].category))
                seen.append(files[i].category);
            byCategory[files[i].category] += counts[i];
        }
        std::stable_sort(seen.begin(), seen.end(), [&](FileCategory a, FileCategory b) {
            return byCategory.value(a) > byCategory.value(b);
        });
        return seen;
    }

    SelectionSample ofCategory(FileCategory category) const
    {
        SelectionSample part;
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (files[i].category == category) {
                part.files.append(files[i]);
                part.counts.append(counts[i]);
                part.total += counts[i];
            }
        }
        return part;
    }
};

// OperationDescriptor::applies for the whole selection the sample stands for.
bool appliesToSample(const OperationDescriptor& op, const SelectionSample& sample)
{
    if (sample.total == 0 || sample.total < op.minimumFiles)
        return false;
    if (sample.total != 1 && op.multiFile == MultiFileMode::single)
        return false;
    return coversAll(op, sample.files);
}

QList<WheelEntry> mixedEntries(const QList<OperationDescriptor>& candidates,
                               const SelectionSample& sample, const QList<FileCategory>& categories);

} // namespace

ToolRegistry::ToolRegistry(QList<OperationDescriptor> catalogue, EngineCheck isAvailable,
                           const SettingsStore* store)
    : m_catalogue(std::move(catalogue)),
      m_isAvailable(std::move(isAvailable)),
      m_store(store)
{
}

const ToolRegistry& ToolRegistry::shared()
{
    static const ToolRegistry registry(allToolDescriptors(), [](const EngineID& engine) {
        return Capabilities::shared().isAvailable(engine);
    });
    return registry;
}

const SettingsStore& ToolRegistry::store() const
{
    return m_store ? *m_store : SettingsStore::shared();
}

QStringList defaultWheelItems(WheelKind kind, FileCategory category)
{
    switch (kind) {
    case WheelKind::convert: return defaultConvertOrder().value(category);
    case WheelKind::tools: return defaultToolsOrder().value(category);
    case WheelKind::actions: {
        QStringList ids;
        for (const OperationDescriptor& d : quickActionDescriptors())
            ids.append(d.id);
        return ids;
    }
    }
    return {};
}

QList<FileCategory> categoriesByCount(const QList<FileInfo>& files)
{
    QList<FileCategory> seen;
    QHash<FileCategory, int> counts;
    for (const FileInfo& file : files) {
        if (!counts.contains(file.category))
            seen.append(file.category);
        ++counts[file.category];
    }
    std::stable_sort(seen.begin(), seen.end(), [&](FileCategory a, FileCategory b) {
        return counts.value(a) > counts.value(b);
    });
    return seen;
}

QList<WheelEntry> ToolRegistry::wheelEntries(const QList<FileInfo>& files, WheelKind kind) const
{
    return wheelEntriesForKinds(files, {}, kind);
}

QList<WheelEntry> ToolRegistry::wheelEntriesForKinds(const QList<FileInfo>& kinds,
                                                     const QList<qsizetype>& counts,
                                                     WheelKind kind) const
{
    const SelectionSample sample(kinds, counts);
    if (sample.total == 0)
        return {};
    // Nothing is offered for what is never read: a pipe or a device, or a name that reads as
    // another file's.
    if (std::any_of(kinds.begin(), kinds.end(), [](const FileInfo& file) { return InputFile::refusedFileMessage(file).has_value(); }))
        return {};
    QList<OperationDescriptor> candidates;
    for (const OperationDescriptor& d : m_catalogue) {
        if (d.wheel == kind && (!m_isAvailable || m_isAvailable(d.engine)))
            candidates.append(d);
    }
    const QList<FileCategory> categories = sample.categories();

    QList<WheelEntry> entries;
    if (categories.size() == 1) {
        for (const OperationDescriptor& d : candidates) {
            if (appliesToSample(d, sample))
                entries.append(WheelEntry::forOperation(d, kind));
        }
    } else {
        entries = mixedEntries(candidates, sample, categories);
        for (WheelEntry& entry : entries)
            entry.wheel = kind;
    }
    return orderedWheelEntries(entries, kind, categories.value(0, FileCategory::other));
}

namespace {

QList<WheelEntry> mixedEntries(const QList<OperationDescriptor>& candidates,
                               const SelectionSample& sample, const QList<FileCategory>& categories)
{
    // Groups in the catalogue order of their first member, members in catalogue order.
    QStringList groupOrder;
    QHash<QString, QList<OperationDescriptor>> groups;
    for (const OperationDescriptor& d : candidates) {
        if (d.multiFile != MultiFileMode::each && d.multiFile != MultiFileMode::batch)
            continue;
        if (!groups.contains(d.group))
            groupOrder.append(d.group);
        groups[d.group].append(d);
    }

    QHash<FileCategory, SelectionSample> byCategory;
    for (const FileCategory category : categories)
        byCategory.insert(category, sample.ofCategory(category));

    QList<WheelEntry> entries;
    for (const QString& group : groupOrder) {
        const QList<OperationDescriptor>& members = groups[group];

        // One batch operation that takes the whole selection wins.
        const auto batch = std::find_if(members.begin(), members.end(), [&](const auto& d) {
            return d.multiFile == MultiFileMode::batch && d.minimumFiles <= sample.total &&
                coversAll(d, sample.files);
        });
        if (batch != members.end()) {
            entries.append(WheelEntry{group, batch->title, batch->symbol, batch->wheel, {*batch}});
            continue;
        }

        // Otherwise one operation per category, each for that category's files.
        QList<OperationDescriptor> picked;
        bool complete = true;
        for (const FileCategory category : categories) {
            const SelectionSample& ofCategory = *byCategory.constFind(category);
            const auto member = std::find_if(members.begin(), members.end(), [&](const auto& d) {
                return d.categories.contains(category) && appliesToSample(d, ofCategory);
            });
            if (member == members.end()) {
                complete = false;
                break;
            }
            const bool already = std::any_of(picked.begin(), picked.end(),
                                             [&](const auto& d) { return d.id == member->id; });
            if (!already)
                picked.append(*member);
        }
        if (complete) {
            entries.append(WheelEntry{group, picked.first().title, picked.first().symbol,
                                      picked.first().wheel, picked});
        }
    }
    return entries;
}

} // namespace

QList<WheelEntry> ToolRegistry::orderedWheelEntries(const QList<WheelEntry>& entries,
                                                    WheelKind kind, FileCategory category) const
{
    // A stored order, even an empty one, replaces the default completely.
    const QStringList order = store()
                                  .stringListValue(wheelOrderKey(kind, category))
                                  .value_or(defaultWheelItems(kind, category));
    QList<std::pair<int, WheelEntry>> ranked;
    for (const WheelEntry& entry : entries) {
        int rank = INT_MAX;
        for (int i = 0; i < order.size(); ++i) {
            if (matchesOrderItem(entry, order[i])) {
                rank = i;
                break;
            }
        }
        ranked.append({rank, entry});
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<WheelEntry> sorted;
    for (const auto& [rank, entry] : ranked)
        sorted.append(entry);
    return sorted;
}

QList<OperationDescriptor> ToolRegistry::descriptorsForCategory(WheelKind kind,
                                                                FileCategory category) const
{
    QList<OperationDescriptor> list;
    for (const OperationDescriptor& d : m_catalogue) {
        if (d.wheel == kind && d.categories.contains(category))
            list.append(d);
    }
    return list;
}

QString ToolRegistry::emptyWheelMessage(const QList<FileInfo>& files, WheelKind kind) const
{
    for (const FileInfo& file : files) {
        if (const std::optional<QString> refused = InputFile::refusedFileMessage(file))
            return *refused;
    }
    QSet<FileCategory> distinct;
    for (const FileInfo& file : files)
        distinct.insert(file.category);
    switch (kind) {
    case WheelKind::convert:
        if (distinct.size() < 2 && distinct == QSet<FileCategory>{FileCategory::folder}) {
            return QStringLiteral("Folders can't be converted\nTry ") +
                modifierGlyph(triggerModifier(WheelKind::tools, store())) +
                QStringLiteral(" for Tools");
        }
        if (distinct.size() < 2)
            return QStringLiteral("No conversions for this file");
        return QStringLiteral("No common formats\nTry ") +
            modifierGlyph(triggerModifier(WheelKind::actions, store())) +
            QStringLiteral(" for Actions");
    case WheelKind::tools: return QStringLiteral("No tools for this selection");
    case WheelKind::actions: return QStringLiteral("No actions available");
    }
    return QString();
}

WheelContent ToolRegistry::wheelContentForSelection(const QList<FileInfo>& files,
                                                    WheelKind kind) const
{
    return wheelContentForKinds(files, {}, kind);
}

WheelContent ToolRegistry::wheelContentForKinds(const QList<FileInfo>& kinds,
                                                const QList<qsizetype>& counts, WheelKind kind) const
{
    const QList<WheelEntry> entries = wheelEntriesForKinds(kinds, counts, kind);
    // The message looks at the categories only, which the kinds hold all of.
    return WheelContent::build(kind, entries,
                               entries.isEmpty() ? std::optional<QString>(emptyWheelMessage(kinds, kind))
                                                 : std::nullopt);
}

WheelContent wheelContentForSelection(const QList<FileInfo>& files, WheelKind kind)
{
    return ToolRegistry::shared().wheelContentForSelection(files, kind);
}

WheelContent wheelContentForKinds(const QList<FileInfo>& kinds, const QList<qsizetype>& counts,
                                  WheelKind kind)
{
    return ToolRegistry::shared().wheelContentForKinds(kinds, counts, kind);
}

} // namespace qv
