#include "app/actions/CopiedFilesHandling.h"

#include "jobs/Toasts.h"
#include "model/Log.h"
#include "platform/clipboard/ClipboardReader.h"

namespace qv {

namespace {

CopiedFilesHandler& handlerSlot()
{
    static CopiedFilesHandler handler;
    return handler;
}

} // namespace

void setCopiedFilesHandler(CopiedFilesHandler handler)
{
    handlerSlot() = std::move(handler);
}

void handleCopiedFiles(const CopiedFilesResult& result)
{
    switch (result.kind) {
    case CopiedFilesResult::Kind::paths:
        if (result.urls.isEmpty()) {
            showToast(CopiedFilesText::nothingCopied, CopiedFilesText::nothingCopiedSymbol);
        } else if (const CopiedFilesHandler& handler = handlerSlot()) {
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

void convertCopiedFiles(const ClipboardReader& reader)
{
    handleCopiedFiles(readCopiedFiles(reader));
}

void convertCopiedFiles()
{
    convertCopiedFiles(ClipboardReader::system());
}

} // namespace qv
