#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QPDF;

namespace qv {

class PDFRenderer;
class PdfSyncBatch;

// An opened, unlocked PDF: its objects (qpdf) for copying and writing, and a renderer made on
// first use for drawing and text. Copies share the same document; use it from one thread at a
// time.
class PDFDocument {
public:
    // Wraps a document already read; path is empty for one built in memory.
    PDFDocument(std::shared_ptr<QPDF> qpdf, QString path, std::optional<QString> password);

    int pageCount() const;
    QPDF& qpdf() const { return *m_state->qpdf; }
    const QString& path() const { return m_state->path; }
    const std::optional<QString>& password() const { return m_state->password; }

    // The renderer of this document; throws EngineError when MuPDF cannot read it.
    PDFRenderer& renderer() const;

    // For a document opened to be held by the hundred: keeps its file open from true to false,
    // for a run of reads. Does nothing for one whose file stays open anyway.
    void keepFileOpen(bool open) const
    {
        if (m_state->fileKeeper)
            m_state->fileKeeper(open);
    }
    void setFileKeeper(std::function<void(bool)> keeper) { m_state->fileKeeper = std::move(keeper); }

    // Writes the document to a new file, unencrypted, or with a password AES-256 encrypted
    // (user and owner password alike); throws EngineError "Couldn't write the PDF" and leaves no
    // file then. With a batch, the file counts as written once the batch has synced.
    void write(const QString& path, const std::optional<QString>& protectWith = std::nullopt,
               PdfSyncBatch* syncLater = nullptr) const;
    // Writes it unencrypted as small as it goes without loss: objects packed into compressed
    // object streams, every stream compressed; pictures and fonts as they are.
    void writePacked(const QString& path) const;

    // Parses every page's drawing, which is copied or redrawn as it is; one that does not read
    // (a string left open, a stream that does not inflate) throws EngineError "This file is
    // damaged or not in a supported format". Nothing to do once the drawings were read whole.
    void readPageContents() const;

    // Every page's drawing was read whole and is copied as it is, unchanged; set on a document
    // whose pages are copies of such pages, and never on one whose drawings are edited.
    void markPagesRead() const { m_state->pagesRead = true; }
    bool pagesRead() const { return m_state->pagesRead; }

private:
    void writeFile(const QString& path, const std::optional<QString>& protectWith, PdfSyncBatch* syncLater,
                   bool packed) const;
    bool pagesAgree(const PDFRenderer& renderer) const;

    struct State {
        std::shared_ptr<QPDF> qpdf;
        QString path;
        std::optional<QString> password;
        std::unique_ptr<PDFRenderer> renderer;
        std::function<void(bool)> fileKeeper;
        bool pagesRead = false;
        ~State();
    };
    std::shared_ptr<State> m_state;
};

} // namespace qv
