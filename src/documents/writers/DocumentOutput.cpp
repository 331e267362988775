#include "documents/writers/DocumentOutput.h"

namespace qv {

const QList<DocumentOutput>& allDocumentOutputs()
{
    using O = DocumentOutput;
    static const QList<DocumentOutput> all{O::pdf, O::docx, O::odt, O::rtf, O::html, O::txt,
                                           O::md, O::epub, O::png, O::jpg, O::doc, O::pages};
    return all;
}

QString documentOutputRawValue(DocumentOutput output)
{
    static const char* const raw[] = {"pdf", "docx", "odt", "rtf", "html", "txt",
                                      "md", "epub", "png", "jpg", "doc", "pages"};
    return QString::fromLatin1(raw[int(output)]);
}

std::optional<DocumentOutput> documentOutputFromRawValue(const QString& raw)
{
    for (DocumentOutput output : allDocumentOutputs()) {
        if (documentOutputRawValue(output) == raw)
            return output;
    }
    return std::nullopt;
}

} // namespace qv
