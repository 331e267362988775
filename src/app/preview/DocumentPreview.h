#pragma once

#include "catalogue/isolated/IsolatedDocumentReading.h"
#include "model/files/FileInfo.h"

#include <QStackedWidget>

#include <stop_token>

class QTextDocument;
class QTextEdit;

namespace qv {

// What a preview shows of a document, an e-book, a spreadsheet, an archive or a subtitle file:
// a busy sign while a worker reads it, then its text laid out (headings, lists, tables), or the
// fallback view when it cannot be read. Closing the preview stops the reading.
class DocumentPreview : public QStackedWidget {
    Q_OBJECT
public:
    // Takes the fallback view (the file's icon and name).
    DocumentPreview(const FileInfo& file, QWidget* fallback, QWidget* parent = nullptr);
    ~DocumentPreview() override;

    enum class State { reading, shown, unreadable };
    State state() const { return m_state; }
    QTextEdit* textView() const { return m_text; }

    // Lays the preview out into the document, replacing what it held.
    static void layOut(QTextDocument& document, const IsolatedDocumentReading::Preview& preview);
    // Pictures wider than the text's width are shown that wide, proportions kept; the others at
    // the size their document states.
    static void fitPictures(QTextDocument& document, double width);
    // The line under a preview that holds only the file's first part.
    static QString cutLine(const IsolatedDocumentReading::Preview& preview);

Q_SIGNALS:
    void settled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    double textWidth() const;
    void show(const std::optional<IsolatedDocumentReading::Preview>& preview);

    std::stop_source m_stop;
    State m_state = State::reading;
    QWidget* m_busy = nullptr;
    QTextEdit* m_text = nullptr;
    QWidget* m_fallback = nullptr;
};

} // namespace qv
