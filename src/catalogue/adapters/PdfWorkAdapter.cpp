#include "catalogue/adapters/PdfWorkAdapter.h"

#include "jobs/OutputPlanner.h"

#include <QUuid>

namespace qv {

PDFWork pdfWork(const OperationContext& context, const OutputPlanner& planner, Progress& progress)
{
    PDFWork work;
    work.workFile = [&planner](const QString& extension) {
        return planner.workURL(extension, QUuid::createUuid().toString(QUuid::WithoutBraces));
    };
    work.workFolder = [&planner](const QString& name) { return planner.makeWorkSubdirectory(name); };
    work.place = [&planner](const QUrl& file, const QString& baseName, const QString& extension) {
        return planner.deliver(file, baseName, extension);
    };
    work.suffix = [&planner](const QString& word) {
        return planner.settings().suffixForOperation(word);
    };
    work.baseName = splitFileName(planner.source().fileName()).baseName;
    work.progress = &progress;
    work.notes = context.notes;
    work.stop = context.stopToken;
    return work;
}

} // namespace qv
