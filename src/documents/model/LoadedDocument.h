#pragma once

#include "documents/model/DocumentModel.h"

#include <QMarginsF>
#include <QTextDocument>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace qv {

// A document loaded for conversion. Its two forms, rich text and the model, are made from each
// other only when asked for, and each at most once. Used by one thread at a time.
class LoadedDocument {
public:
    // Gives the rich text of a source that is read only on demand (web pages, web archives).
    using RichLoader = std::function<std::unique_ptr<QTextDocument>()>;

    LoadedDocument(QString title, std::optional<QUrl> baseURL, bool isRich);

    // The source's page, where it states one.
    struct PageSetup {
        bool landscape = false;
        std::optional<QMarginsF> margins; // points
        // Running head and foot, lines apart; U+E010 stands for the page number, U+E011 for
        // the page count.
        QString header = {};
        QString footer = {};
    };

    const QString& title() const { return m_title; }
    const PageSetup& pageSetup() const { return m_page; }
    void setPageSetup(PageSetup page) { m_page = std::move(page); }
    const std::optional<QUrl>& baseURL() const { return m_baseURL; }
    bool isRich() const { return m_isRich; }
    void setPictureRoot(const QString& folder) { m_pictureRoot = folder; }

    void setModel(DocumentModel model) { m_model = std::move(model); }
    void setRichText(std::unique_ptr<QTextDocument> document) { m_rich = std::move(document); }
    void setRichLoader(RichLoader loader) { m_loader = std::move(loader); }

    bool hasModel() const { return m_model.has_value(); }
    bool hasRichText() const { return m_rich != nullptr; }
    bool hasRichLoader() const { return bool(m_loader); }

    // Never fails: without a model it is read from the rich text, or is empty when there is
    // none yet (the loader is not run here).
    const DocumentModel& model();

    // The cache, else the loader (its error thrown, nothing kept), else laid out from the model
    // with its images read against baseURL.
    QTextDocument& richText();

    // Bytes of an image or other resource the content names by a path relative to baseURL;
    // none when there is no base, no such file, it is too big, or it lies outside the picture
    // root (baseURL's folder unless set).
    std::optional<QByteArray> loadResource(const QString& path) const;

    // Job messages about the reading, such as bytes that had to be replaced.
    const QStringList& notes() const { return m_notes; }
    void addNote(const QString& note)
    {
        if (!note.isEmpty())
            m_notes.append(note);
    }

    // Whether the rich text holds an image.
    static bool hasAttachment(const QTextDocument& document);

private:
    QString m_title;
    std::optional<QUrl> m_baseURL;
    QString m_pictureRoot;
    bool m_isRich = false;
    std::optional<DocumentModel> m_model;
    std::unique_ptr<QTextDocument> m_rich;
    RichLoader m_loader;
    QStringList m_notes;
    PageSetup m_page;
};

} // namespace qv
