#pragma once

#include "model/files/FileInfo.h"

#include <functional>

namespace qv {

// What the first view of a selection needs, without a FileInfo per file: one file of each kind
// with how many it stands for, the first file and the count. Files whose names tell too little
// are inspected and kept whole. The list of every file is made only when asked for.
class SelectionSummary {
public:
    using Inspect = std::function<FileInfo(const QUrl&)>;

    SelectionSummary() = default;
    // Every file known already; readFromDisk says which were inspected (none when empty).
    explicit SelectionSummary(QList<FileInfo> files, QList<bool> readFromDisk = {});

    // One pass over the URLs: a file by its name (fileInfoFromName) when its extension names a
    // format, else inspected. Files spelling their extension alike share one kind.
    static SelectionSummary fromNames(const QList<QUrl>& urls, const Inspect& inspect);
    // The same when no file needs inspecting; nothing as soon as one would.
    static std::optional<SelectionSummary> fromNamesAlone(const QList<QUrl>& urls);

    qsizetype count() const { return m_urls.size(); }
    bool isEmpty() const { return m_urls.isEmpty(); }
    const QList<QUrl>& urls() const { return m_urls; }
    // The first file; default for none.
    const FileInfo& first() const { return m_first; }
    // One file of each kind, in order of first sight, and how many files each stands for.
    const QList<FileInfo>& kinds() const { return m_kinds; }
    const QList<qsizetype>& counts() const { return m_counts; }
    bool isMixed() const;
    // Whether every file was inspected, none read by its name alone.
    bool allInspected() const { return m_readCount == m_urls.size(); }
    bool wasInspected(qsizetype index) const { return m_readFromDisk.value(index, false); }
    bool hasFiles() const { return m_files.has_value(); }

    // Every file as this first look saw it, made now when only the kinds were kept.
    QList<FileInfo> files() const;
    // The file at index as the first look saw it.
    FileInfo fileAt(qsizetype index) const;

private:
    // Without inspect, nothing as soon as a file would need it.
    static std::optional<SelectionSummary> read(const QList<QUrl>& urls, const Inspect* inspect);

    QList<QUrl> m_urls;
    std::optional<QList<FileInfo>> m_files;
    QList<FileInfo> m_kinds;
    QList<qsizetype> m_counts;
    QList<bool> m_readFromDisk;
    QHash<qsizetype, FileInfo> m_inspected; // by index, when the list is not kept
    qsizetype m_readCount = 0;
    FileInfo m_first;
};

} // namespace qv
