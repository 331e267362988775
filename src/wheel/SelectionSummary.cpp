#include "wheel/SelectionSummary.h"

#include <QSet>

namespace qv {

SelectionSummary::SelectionSummary(QList<FileInfo> files, QList<bool> readFromDisk)
{
    m_urls.reserve(files.size());
    for (const FileInfo& file : std::as_const(files))
        m_urls.append(file.url);
    m_readFromDisk = readFromDisk.isEmpty() ? QList<bool>(files.size(), false) : std::move(readFromDisk);
    m_readCount = std::count(m_readFromDisk.begin(), m_readFromDisk.end(), true);
    if (!files.isEmpty())
        m_first = files.first();
    m_kinds = files;
    m_counts = QList<qsizetype>(files.size(), 1);
    m_files = std::move(files);
}

SelectionSummary SelectionSummary::fromNames(const QList<QUrl>& urls, const Inspect& inspect)
{
    return *read(urls, &inspect);
}

std::optional<SelectionSummary> SelectionSummary::fromNamesAlone(const QList<QUrl>& urls)
{
    return read(urls, nullptr);
}

std::optional<SelectionSummary> SelectionSummary::read(const QList<QUrl>& urls, const Inspect* inspect)
{
    SelectionSummary summary;
    summary.m_urls = urls;
    summary.m_readFromDisk = QList<bool>(urls.size(), false);

    struct Seen {
        QString spelled;
        qsizetype kind; // -1: a name that tells too little
    };
    QList<Seen> seen;
    qsizetype lastSeen = -1;

    const auto addKind = [&summary](FileInfo file) {
        summary.m_kinds.append(std::move(file));
        summary.m_counts.append(1);
        return summary.m_kinds.size() - 1;
    };
    // A file read whole: by its name when that names a format, else from the disk.
    const auto readWhole = [&](qsizetype index) {
        FileInfo file = fileInfoFromName(urls[index]);
        if (!file.format) {
            if (!inspect)
                return std::optional<FileInfo>();
            file = (*inspect)(urls[index]);
            summary.m_readFromDisk[index] = true;
            summary.m_inspected.insert(index, file);
            ++summary.m_readCount;
        }
        return std::optional<FileInfo>(std::move(file));
    };

    for (qsizetype i = 0; i < urls.size(); ++i) {
        const QString path = urls[i].path();
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QStringView name = QStringView(path).mid(slash + 1);
        const QStringView spelled = spelledExtension(name);
        // A folder named by a URL ending in "/", or a name without an extension.
        if (name.isEmpty() || spelled.isEmpty()) {
            std::optional<FileInfo> file = readWhole(i);
            if (!file)
                return std::nullopt;
            if (i == 0)
                summary.m_first = *file;
            addKind(std::move(*file));
            continue;
        }
        // Files of one kind mostly come together.
        if (lastSeen < 0 || seen[lastSeen].spelled != spelled) {
            lastSeen = -1;
            for (qsizetype s = 0; s < seen.size(); ++s) {
                if (seen[s].spelled == spelled) {
                    lastSeen = s;
                    break;
                }
            }
        }
        if (lastSeen >= 0 && seen[lastSeen].kind >= 0) {
            ++summary.m_counts[seen[lastSeen].kind];
            if (i == 0)
                summary.m_first = fileInfoFromName(urls[i]);
            continue;
        }
        std::optional<FileInfo> file = readWhole(i);
        if (!file)
            return std::nullopt;
        if (i == 0)
            summary.m_first = *file;
        if (summary.m_readFromDisk[i]) {
            addKind(std::move(*file));
            if (lastSeen < 0) {
                seen.append({spelled.toString(), -1});
                lastSeen = seen.size() - 1;
            }
            continue;
        }
        seen.append({spelled.toString(), addKind(std::move(*file))});
        lastSeen = seen.size() - 1;
    }
    return summary;
}

bool SelectionSummary::isMixed() const
{
    for (const FileInfo& kind : m_kinds) {
        if (kind.category != m_first.category)
            return true;
    }
    return false;
}

FileInfo SelectionSummary::fileAt(qsizetype index) const
{
    if (m_files)
        return m_files->at(index);
    if (const auto it = m_inspected.constFind(index); it != m_inspected.constEnd())
        return *it;
    return fileInfoFromName(m_urls[index]);
}

QList<FileInfo> SelectionSummary::files() const
{
    if (m_files)
        return *m_files;
    QList<FileInfo> files;
    files.reserve(m_urls.size());
    for (qsizetype i = 0; i < m_urls.size(); ++i)
        files.append(fileAt(i));
    return files;
}

} // namespace qv
