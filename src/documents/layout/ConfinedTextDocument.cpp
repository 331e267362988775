#include "documents/layout/ConfinedTextDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>

namespace qv {

ConfinedTextDocument::ConfinedTextDocument(Files files, QString root)
    : m_files(files), m_root(QFileInfo(root).canonicalFilePath())
{
}

void ConfinedTextDocument::addKnownResource(const QUrl& url, const QByteArray& bytes)
{
    m_known.insert(url.adjusted(QUrl::NormalizePathSegments), bytes);
}

int ConfinedTextDocument::removeRefusedImages()
{
    QList<std::pair<int, int>> spans;
    for (QTextBlock block = begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            const QUrl name(fragment.charFormat().toImageFormat().name());
            resource(QTextDocument::ImageResource, name);
            // QTextDocument asks for names resolved against the base URL.
            if (m_refused.contains(name) || m_refused.contains(baseUrl().resolved(name)))
                spans.append({fragment.position(), fragment.length()});
        }
    }
    // From the end, so the positions before stay true.
    for (auto it = spans.crbegin(); it != spans.crend(); ++it) {
        QTextCursor cursor(this);
        cursor.setPosition(it->first);
        cursor.setPosition(it->first + it->second, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    return int(spans.size());
}

QVariant ConfinedTextDocument::loadResource(int type, const QUrl& name)
{
    if (type != QTextDocument::ImageResource)
        return {};
    const QVariant loaded = loadImage(name);
    if (loaded.isValid())
        return loaded;
    // Empty, Qt would read the file the name gives itself, wherever it lies.
    m_refused.insert(name);
    QImage nothing(1, 1, QImage::Format_ARGB32);
    nothing.fill(Qt::transparent);
    return nothing;
}

QVariant ConfinedTextDocument::loadImage(const QUrl& name)
{
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
