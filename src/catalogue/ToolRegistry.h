#pragma once

#include "model/operations/OperationDescriptor.h"
#include "model/wheel/WheelContent.h"

#include <functional>

namespace qv {

class SettingsStore;

// Turns a selection and a wheel kind into the entries that wheel offers, in the user's order.
// Holds nothing but its catalogue: availability and stored orders are read at every call, so
// it may be used from any thread.
class ToolRegistry {
public:
    using EngineCheck = std::function<bool(const EngineID&)>;

    // Without a check every engine counts as available; without a store the shared one is read.
    explicit ToolRegistry(QList<OperationDescriptor> catalogue, EngineCheck isAvailable = {},
                          const SettingsStore* store = nullptr);

    // The full catalogue with the machine's engines.
    static const ToolRegistry& shared();

    const QList<OperationDescriptor>& catalogue() const { return m_catalogue; }

    // The entries, plus the empty-wheel message, laid out as segments and the More ring.
    WheelContent wheelContentForSelection(const QList<FileInfo>& files, WheelKind kind) const;

    // Ordered by the dominant category's order; empty for no files.
    QList<WheelEntry> wheelEntries(const QList<FileInfo>& files, WheelKind kind) const;

    // The same for a selection given as one file of each kind, counts[i] standing for how many
    // files kinds[i] answers for (one each when counts is empty). Files of one kind must agree
    // in what an accept test may look at: category, format, extension, type, frames, sound,
    // folder, promise, lock; a file of no known format is a kind of its own.
    QList<WheelEntry> wheelEntriesForKinds(const QList<FileInfo>& kinds, const QList<qsizetype>& counts,
                                           WheelKind kind) const;
    WheelContent wheelContentForKinds(const QList<FileInfo>& kinds, const QList<qsizetype>& counts,
                                      WheelKind kind) const;

    // By the stored order of (kind, category), else the default; unmatched entries go last in
    // their incoming order. Never removes an entry.
    QList<WheelEntry> orderedWheelEntries(const QList<WheelEntry>& entries, WheelKind kind,
                                          FileCategory category) const;

    // What the wheels settings may arrange: every descriptor of the kind listing the category,
    // whatever the engines and files.
    QList<OperationDescriptor> descriptorsForCategory(WheelKind kind, FileCategory category) const;

    // The text of an empty wheel for these files.
    QString emptyWheelMessage(const QList<FileInfo>& files, WheelKind kind) const;

private:
    const SettingsStore& store() const;

    QList<OperationDescriptor> m_catalogue;
    EngineCheck m_isAvailable;
    const SettingsStore* m_store;
};

// The built-in order of one wheel and category; the actions wheel has one order for all.
QStringList defaultWheelItems(WheelKind kind, FileCategory category);

// The distinct categories of the files, most frequent first, ties in order of first sight.
QList<FileCategory> categoriesByCount(const QList<FileInfo>& files);

// ToolRegistry::shared()'s content: what a wheel session shows.
WheelContent wheelContentForSelection(const QList<FileInfo>& files, WheelKind kind);
WheelContent wheelContentForKinds(const QList<FileInfo>& kinds, const QList<qsizetype>& counts,
                                  WheelKind kind);

} // namespace qv
