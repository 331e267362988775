#pragma once

#include "documents/writers/DocumentOutput.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>

namespace qv {

// The document, e-book and presentation lists, in wheel order.
const QList<OperationDescriptor>& documentDescriptors();
const QList<OperationDescriptor>& ebookDescriptors();
const QList<OperationDescriptor>& presentationDescriptors();

OperationDescriptor makeConversionTool(FileCategory category, DocumentOutput target);
// Word Count, Merge, Remove Meta and To PDF for documents or e-books.
QList<OperationDescriptor> makeTextDocumentTools(FileCategory category);
OperationDescriptor makePresentationConversion(const QString& extension);

// Every file but a Pages document, which needs a program that exports it.
bool pagesSourceAccepts(const FileInfo& file);

} // namespace qv
