#pragma once

#include <optional>

#include "documents/model/LoadedDocument.h"
#include "documents/writers/DocumentOutput.h"
#include "model/operations/OperationContext.h"
#include "model/operations/Progress.h"

#include <QUrl>

namespace qv {

struct DocumentPlanner;

// The document tools of the catalogue: conversion to any document target, merge, word count.
class DocumentConversion {
public:
    DocumentConversion() = delete;

    // Returns the placed result: a file, or a folder for Markdown with pictures and for several
    // page images. Errors of loading, writing and LibreOffice pass through unchanged.
    static QUrl convertDocument(const FileInfo& file, DocumentOutput target, const OperationContext& context,
                                const DocumentPlanner& planner, Progress& progress);

    // The files joined in order into one document of the first file's kind.
    static QUrl mergeDocuments(const QList<FileInfo>& files, const OperationContext& context,
                               const DocumentPlanner& planner, Progress& progress);

    // Leaves "<words> words · … min read" in the job's messages and clipboard; writes nothing.
    static void countWords(const FileInfo& file, const OperationContext& context, const DocumentPlanner& planner);

    // In the order of the files; the first failure ends the loading.
    static std::vector<std::unique_ptr<LoadedDocument>> loadDocumentsInOrder(const QList<FileInfo>& files,
                                                                             const QUrl& workFolder,
                                                                             std::stop_token stop);

    // What a merge led by a file of this format id becomes.
    static DocumentOutput mergeTarget(const QString& firstFormatID);

    // Whether converting the file to target needs pandoc (DOCX, ODT and RTF are read by it, and
    // so are Word 97 and Pages files once LibreOffice has made a DOCX of them); without a target,
    // whether loading it does (the word count, the merge).
    static bool needsPandoc(const FileInfo& file, std::optional<DocumentOutput> target);
};

} // namespace qv
