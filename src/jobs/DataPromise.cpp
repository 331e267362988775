#include "jobs/DataPromise.h"

#include "platform/processes/ThreadCall.h"

#include "model/files/FileInfo.h"
#include "platform/files/FileContents.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>

namespace qv {

namespace {

QString fileNameFor(const DataPromise::Item& item)
{
    // Only a plain name: a drop must not choose where in the folder it lands.
    QString name = QFileInfo(item.name).fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        static const QMimeDatabase db;
        const QString suffix = db.mimeTypeForName(item.mimeType).preferredSuffix();
        name = QStringLiteral("Promised File");
        if (!suffix.isEmpty())
            name += QLatin1Char('.') + suffix;
    }
    return name;
}

// Writes the data under the name, or "name 2", "name 3"... when it is taken.
std::optional<QUrl> writeItem(const QString& folder, const DataPromise::Item& item, QString* error)
{
    if (!item.refusal.isEmpty()) {
        *error = item.refusal;
        return std::nullopt;
    }
    const QString name = fileNameFor(item);
    const SplitName split = splitFileName(name);
    const QDir dir(folder);
    for (int k = 1; k <= 10000; ++k) {
        QString candidate = k == 1 ? name : split.baseName + QStringLiteral(" %1").arg(k);
        if (k > 1 && !split.ext.isEmpty())
            candidate += QLatin1Char('.') + split.ext;
        const QString path = dir.filePath(candidate);
        // Saves writing the data out only to find the name taken; createNew still decides.
        if (const QFileInfo taken(path); taken.exists() || taken.isSymLink())
            continue;
        const std::optional<SystemError> failure = FileContents::createNew(path, item.data);
        if (!failure)
            return QUrl::fromLocalFile(path);
        if (FileContents::isNameTaken(*failure))
            continue;
        *error = failure->localizedDescription();
        return std::nullopt;
    }
    *error = QStringLiteral("No free name for %1").arg(name);
    return std::nullopt;
}

} // namespace

DataPromise::DataPromise(QList<Item> items)
    : m_items(std::move(items))
{
}

QStringList DataPromise::announcedNames() const
{
    QStringList names;
    for (const Item& item : m_items)
        names.append(fileNameFor(item));
    return names;
}

QString DataPromise::refusal() const
{
    for (const Item& item : m_items) {
        if (item.refusal.isEmpty())
            return {};
    }
    return m_items.isEmpty() ? QString() : m_items.first().refusal;
}

void DataPromise::receive(const QString& folder, Reader reader)
{
    const QList<Item> items = m_items;
    runInBackground([folder, items, reader] {
        for (const Item& item : items) {
            QString error;
            const std::optional<QUrl> url = writeItem(folder, item, &error);
            reader(url, error);
        }
    });
}

} // namespace qv
