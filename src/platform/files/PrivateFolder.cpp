#include "platform/files/PrivateFolder.h"

#include "platform/files/FileItems.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolderRegistry.h"

#include <QDir>
#include <QUuid>

namespace qv {

QUrl PrivateFolder::make(const QString& prefix)
{
    QString name = prefix;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QChar(0), QLatin1Char('-'));
    return QUrl::fromLocalFile(
        TemporaryRoot::makeLiveFolder(name + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces)));
}

void PrivateFolder::remove(const QUrl& folder)
{
    const QString path = QDir::cleanPath(folder.toLocalFile());
    // Never let a stray URL remove anything outside our own root.
    if (TemporaryRoot::contains(path))
        FileItems::remove(path);
    WorkFolderRegistry::remove(path);
}

void PrivateFolder::release(const QUrl& folder)
{
    WorkFolderRegistry::remove(QDir::cleanPath(folder.toLocalFile()));
}

} // namespace qv
