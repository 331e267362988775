#pragma once

#include "model/operations/JobNotes.h"
#include "model/operations/Progress.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <stop_token>

namespace qv {

// What a PDF operation needs of its work item: work files, placing results under a name,
// the output suffixes, progress, notes and the job's stop.
struct PDFWork {
    // A new file name in the work directory with this extension.
    std::function<QUrl(const QString& extension)> workFile;
    // A new, empty folder of this name in the work directory.
    std::function<QUrl(const QString& name)> workFolder;
    // Places a finished file (or, with an empty extension, a folder) as baseName.extension
    // without overwriting anything; returns where it went.
    std::function<QUrl(const QUrl& file, const QString& baseName, const QString& extension)> place;
    // The output suffix for an operation word ("merge" gives "merged"); empty for none.
    std::function<QString(const QString& word)> suffix;
    // The source's file name without its extension.
    QString baseName;
    Progress* progress = nullptr;
    std::shared_ptr<JobNotes> notes;
    std::stop_token stop;

    // baseName, then " (suffix)" when the word has a suffix.
    QString nameFor(const QString& word) const
    {
        const QString s = suffix ? suffix(word) : QString();
        return s.isEmpty() ? baseName : baseName + QStringLiteral(" (") + s + QLatin1Char(')');
    }
    void report(double fraction) const
    {
        if (progress)
            reportProgress(fraction, *progress);
    }
};

} // namespace qv
