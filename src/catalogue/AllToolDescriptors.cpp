#include "catalogue/AllToolDescriptors.h"

#include "catalogue/ArchiveCatalogue.h"
#include "catalogue/AudioCatalogue.h"
#include "catalogue/ImageCatalogue.h"
#include "catalogue/PdfCatalogue.h"
#include "catalogue/QuickActionCatalogue.h"
#include "catalogue/SpreadsheetCatalogue.h"
#include "catalogue/SubtitleCatalogue.h"
#include "catalogue/VideoCatalogue.h"

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
