#pragma once

#include <qpdf/Pipeline.hh>

#include <QFile>
#include <QString>

namespace qv {

class PdfSyncBatch;

// The end of qpdf's writer: a new file whose every write is counted and which is synced and
// closed by commit() before it counts as written. Any failure removes the file and throws: a full
// disk SystemError (ENOSPC, "Not enough disk space"), anything else EngineError "Couldn't write the PDF".
class PdfFileSink : public Pipeline {
public:
    explicit PdfFileSink(const QString& path);
    ~PdfFileSink() override;

    void write(unsigned char const* data, size_t len) override;
    void finish() override;
    // Syncs and closes the file once the writer is done: only now is it written. With a batch,
    // the file is closed and its sync left to the batch, which must sync before it counts.
    void commit(PdfSyncBatch* later = nullptr);

private:
    [[noreturn]] void fail(const QString& why);

    QFile m_file;
    bool m_finished = false;
};

} // namespace qv
