#include "catalogue/tools/AllToolDescriptors.h"

#include "catalogue/lists/ArchiveCatalogue.h"
#include "catalogue/lists/AudioCatalogue.h"
#include "catalogue/lists/DocumentCatalogue.h"
#include "catalogue/lists/ImageCatalogue.h"
#include "catalogue/lists/PdfCatalogue.h"
#include "catalogue/lists/QuickActionCatalogue.h"
#include "catalogue/lists/SpreadsheetCatalogue.h"
#include "catalogue/lists/SubtitleCatalogue.h"
#include "catalogue/lists/VideoCatalogue.h"

namespace qv {

const QList<OperationDescriptor>& allToolDescriptors()
{
    static const QList<OperationDescriptor> all = [] {
        QList<OperationDescriptor> list;
        // A category joins here, in its place, once the engine behind it is built: image,
        // video, audio, pdf, document, ebook, presentation, spreadsheet, subtitle, archive,
        // folder. The quick actions stay last.
        list += imageDescriptors();
        list += videoDescriptors();
        list += audioDescriptors();
        list += pdfDescriptors();
        list += documentDescriptors();
        list += ebookDescriptors();
        list += presentationDescriptors();
        list += spreadsheetDescriptors();
        list += subtitleDescriptors();
        list += archiveDescriptors();
        list += folderDescriptors();
        list += quickActionDescriptors();
        return list;
    }();
    return all;
}

} // namespace qv
