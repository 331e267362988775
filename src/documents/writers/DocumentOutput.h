#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace qv {

// The document targets; the raw value is the file extension.
enum class DocumentOutput { pdf, docx, odt, rtf, html, txt, md, epub, png, jpg, doc, pages };

QString documentOutputRawValue(DocumentOutput output);
// Exact, lower-case match only.
std::optional<DocumentOutput> documentOutputFromRawValue(const QString& raw);
const QList<DocumentOutput>& allDocumentOutputs();

} // namespace qv
