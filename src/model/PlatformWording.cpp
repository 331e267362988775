#include "model/PlatformWording.h"

namespace qv {

const QList<std::pair<QString, QString>>& platformWordingTable()
{
    // Longer phrases first: replacement runs in this order.
    static const QList<std::pair<QString, QString>> table{
        {QStringLiteral("Copied — paste it in Finder"),
         QStringLiteral("Copied — paste it in your file manager")},
        {QStringLiteral("AirDrop isn't available right now"),
         QStringLiteral("Sending to a device isn't available right now")},
        {QStringLiteral("Reveal in Finder"), QStringLiteral("Show in Folder")},
        {QStringLiteral("Show in Finder"), QStringLiteral("Show in Folder")},
        {QStringLiteral("Select files in Finder first"),
         QStringLiteral("Copy files in your file manager first")},
        {QStringLiteral("the Finder selection"), QStringLiteral("the Copied Files")},
        {QStringLiteral("Finder selection"), QStringLiteral("Copied Files")},
        {QStringLiteral("this Mac"), QStringLiteral("this computer")},
        {QStringLiteral("This Mac"), QStringLiteral("This computer")},
        {QStringLiteral("AirDrop"), QStringLiteral("Send to Device")},
        {QStringLiteral("in Finder"), QStringLiteral("in your file manager")},
        {QStringLiteral("Finder"), QStringLiteral("your file manager")},
    };
    return table;
}

QString platformWording(const QString& text)
{
    QString result = text;
    for (const auto& [theirs, ours] : platformWordingTable())
        result.replace(theirs, ours);
    return result;
}

} // namespace qv
