#pragma once

#include "model/operations/OperationContext.h"
#include "model/operations/OperationDescriptor.h"

#include <QStringList>
#include <QUrl>

namespace qv {

class OutputPlanner;
class Progress;

// The run bodies that read text and codes out of pictures and PDFs.

// The picture's text in reading order, saved as "<base> (text).txt" and put on the clipboard.
QUrl extractImageText(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
                      Progress& progress);
// The payloads of the picture's codes on the clipboard, with notes; no file.
void readImageCodes(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
                    Progress& progress);
// The payloads of the codes on the first pages of a PDF on the clipboard, with a note; no file.
void readPDFCodes(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
                  Progress& progress);
// The PDF with an invisible text layer over its scanned pages.
QUrl ocrPDF(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
            Progress& progress);
// The PDF's own text as "<base>.txt", pages parted by an empty line.
QUrl convertPDFToText(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
                      Progress& progress);

// The rows "tool.image.extractText" and "tool.image.readQR" of the image list.
OperationDescriptor makeExtractImageTextTool();
OperationDescriptor makeReadImageCodesTool();

// "Copied: " and the first payload, cut to 57 characters and "…" when it is longer than 60.
QString copiedNote(const QString& firstPayload);

// The glyph-less font of text layers, beside the recognition data.
QString textLayerFontFile();

} // namespace qv
