#include "platform/SystemClipboardReader.h"

#include <QClipboard>
#include <QGuiApplication>

namespace qv {

const QMimeData* SystemClipboardReader::contents(Selection selection) const
{
    if (!isAvailable())
        return nullptr;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (selection == Selection::primary) {
        if (!clipboard->supportsSelection())
            return nullptr;
        return clipboard->mimeData(QClipboard::Selection);
    }
    return clipboard->mimeData(QClipboard::Clipboard);
}

bool SystemClipboardReader::isAvailable() const
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr
        && QGuiApplication::clipboard() != nullptr;
}

const ClipboardReader& ClipboardReader::system()
{
    static SystemClipboardReader reader;
    return reader;
}

} // namespace qv
