#include "app/FinderSelectionHandling.h"

#include "jobs/Toasts.h"
#include "model/Log.h"
#include "platform/ClipboardReader.h"

namespace qv {

namespace {

FinderSelectionHandler& handlerSlot()
{
    static FinderSelectionHandler handler;
    return handler;
}

} // namespace

void setFinderSelectionHandler(FinderSelectionHandler handler)
{
    handlerSlot() = std::move(handler);
}

void handleFinderSelection(const CopiedFilesResult& result)
{
    switch (result.kind) {
    case CopiedFilesResult::Kind::paths:
        if (result.urls.isEmpty()) {
            showToast(CopiedFilesText::nothingCopied, CopiedFilesText::nothingCopiedSymbol);
        } else if (const FinderSelectionHandler& handler = handlerSlot()) {
            handler(result.urls);
        } else {
            qCInfo(appLog, "Copied Files: %lld items, nothing to open them",
                   static_cast<long long>(result.urls.size()));
        }
        return;
    case CopiedFilesResult::Kind::failed:
        qCCritical(appLog, "Copied Files failed: %s", qUtf8Printable(result.message));
        showToast(CopiedFilesText::readFailed, CopiedFilesText::failedSymbol);
        return;
    }
}

void convertFinderSelection(const ClipboardReader& reader)
{
    handleFinderSelection(readCopiedFiles(reader));
}

void convertFinderSelection()
{
    convertFinderSelection(ClipboardReader::system());
}

} // namespace qv
