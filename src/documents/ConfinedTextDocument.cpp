#include "documents/ConfinedTextDocument.h"

#include <QFile>
#include <QFileInfo>

namespace qv {

ConfinedTextDocument::ConfinedTextDocument(Files files, QString root)
    : m_files(files), m_root(QFileInfo(root).canonicalFilePath())
{
}

void ConfinedTextDocument::addKnownResource(const QUrl& url, const QByteArray& bytes)
{
    m_known.insert(url.adjusted(QUrl::NormalizePathSegments), bytes);
}

QVariant ConfinedTextDocument::loadResource(int type, const QUrl& name)
{
    if (type != QTextDocument::ImageResource)
        return {};
    const QUrl resolved = (name.isRelative() ? baseUrl().resolved(name) : name).adjusted(QUrl::NormalizePathSegments);
    const auto known = m_known.constFind(resolved);
    if (known != m_known.constEnd())
        return *known;
    if (m_files == Files::none || !resolved.isLocalFile())
        return {};
    const QString path = QFileInfo(resolved.toLocalFile()).canonicalFilePath();
    if (path.isEmpty())
        return {};
    if (m_files == Files::belowRoot && (m_root.isEmpty() || !path.startsWith(m_root + QLatin1Char('/'))))
        return {};
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > maximumResourceBytes)
        return {};
    const QByteArray bytes = file.readAll();
    return file.error() == QFileDevice::NoError ? QVariant(bytes) : QVariant();
}

} // namespace qv
