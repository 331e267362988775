#include "platform/clipboard/SystemClipboardReader.h"

#include "platform/wayland/DataControlClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace qv {

const QMimeData* SystemClipboardReader::contents(Selection selection) const
{
    if (!isAvailable())
        return nullptr;
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QClipboard::Mode mode = selection == Selection::primary ? QClipboard::Selection : QClipboard::Clipboard;
    // On Wayland, Qt knows the selection only while a window of ours has the keyboard; a
    // selection of our own is answered by our own main thread, so Qt reads that one.
    const bool ours = mode == QClipboard::Selection ? clipboard->ownsSelection() : clipboard->ownsClipboard();
    if (!ours) {
        if (DataControlClipboard* control = DataControlClipboard::shared()) {
            // The formats copied files come in.
            return control->contents(selection, {QStringLiteral("text/uri-list"),
                                                 QStringLiteral("x-special/gnome-copied-files"),
                                                 QStringLiteral("text/plain")});
        }
    }
    if (selection == Selection::primary && !clipboard->supportsSelection())
        return nullptr;
    return clipboard->mimeData(mode);
}

bool SystemClipboardReader::isAvailable() const
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr
        && QGuiApplication::clipboard() != nullptr;
}

QString SystemClipboardReader::blindSpot() const
{
    if (QGuiApplication::platformName() != QLatin1String("wayland") || DataControlClipboard::shared()
        || QGuiApplication::clipboard()->ownsClipboard())
        return {};
    return QStringLiteral("the desktop offers no data control, and tells a Wayland program what "
                          "other programs copied only while one of its windows has the keyboard");
}

const ClipboardReader& ClipboardReader::system()
{
    static SystemClipboardReader reader;
    return reader;
}

} // namespace qv
