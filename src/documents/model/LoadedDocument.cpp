#include "documents/model/LoadedDocument.h"

#include "documents/model/DocumentPictures.h"

#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/TextLoaders.h"
#include "documents/writers/AttributedTextWriter.h"

#include <QDir>
#include <QFile>
#include <QTextBlock>
#include <QTextFragment>

namespace qv {

LoadedDocument::LoadedDocument(QString title, std::optional<QUrl> baseURL, bool isRich)
    : m_title(std::move(title)), m_baseURL(std::move(baseURL)), m_isRich(isRich)
{
}

const DocumentModel& LoadedDocument::model()
{
    if (!m_model) {
        if (m_rich) {
            m_model = AttributedTextReader::documentModelFromAttributedString(*m_rich, m_title);
        } else {
            DocumentModel empty;
            empty.title = m_title;
            m_model = empty;
        }
    }
    return *m_model;
}

QTextDocument& LoadedDocument::richText()
{
    if (m_rich)
        return *m_rich;
    if (m_loader) {
        std::unique_ptr<QTextDocument> loaded = m_loader();
        m_rich = std::move(loaded);
        return *m_rich;
    }
    m_rich = AttributedTextWriter::attributedStringFromDocumentModel(
        [this](const QString& path) { return loadResource(path); }, model().blocks, 12, 440);
    return *m_rich;
}

std::optional<QByteArray> LoadedDocument::loadResource(const QString& path) const
{
    if (!m_baseURL)
        return std::nullopt;
    const QString folder = m_baseURL->toLocalFile();
    const DocumentPictures::Resolved resolved =
        DocumentPictures::resolve(path, folder, m_pictureRoot.isEmpty() ? folder : m_pictureRoot);
    if (resolved.place != DocumentPictures::Place::inside)
        return std::nullopt;
    QFile file(resolved.path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > TextLoaders::maximumFileBytes)
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

bool LoadedDocument::hasAttachment(const QTextDocument& document)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                return true;
        }
    }
    return false;
}

} // namespace qv
