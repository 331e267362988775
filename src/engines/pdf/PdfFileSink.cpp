#include "engines/pdf/PdfFileSink.h"

#include "engines/pdf/PdfSyncBatch.h"

#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qv {

PdfFileSink::PdfFileSink(const QString& path)
    : Pipeline("quorvenda file", nullptr), m_file(path)
{
    // A taken name is someone else's file: leave it.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw EngineError(QStringLiteral("Couldn't write the PDF"), m_file.errorString());
}

PdfFileSink::~PdfFileSink()
{
    // Not finished: the writer gave up half-way, so the file is no PDF.
    if (!m_finished && m_file.isOpen()) {
        m_file.close();
        m_file.remove();
    }
}

void PdfFileSink::write(unsigned char const* data, size_t len)
{
    const auto count = m_file.write(reinterpret_cast<const char*>(data), qint64(len));
    if (count != qint64(len))
        fail(m_file.errorString());
}

void PdfFileSink::finish()
{
    // The writer may finish more than once; only commit() ends the file.
    if (!m_finished && !m_file.flush())
        fail(m_file.errorString());
}

void PdfFileSink::commit(PdfSyncBatch* later)
{
    if (m_finished)
        return;
    if (!m_file.flush())
        fail(m_file.errorString());
    int kept = -1;
    if (later) {
        kept = ::dup(m_file.handle());
        if (kept < 0)
            fail(QString::fromLocal8Bit(std::strerror(errno)));
    } else if (::fsync(m_file.handle()) != 0) {
        fail(m_file.errorString());
    }
    m_file.close();
    if (m_file.error() != QFileDevice::NoError) {
        if (kept >= 0)
            ::close(kept);
        fail(m_file.errorString());
    }
    m_finished = true;
    if (later)
        later->add(kept);
}

void PdfFileSink::fail(const QString& why)
{
    // The refused write's own errno, before closing and removing set another.
    const int code = errno;
    m_file.close();
    m_file.remove();
    m_finished = true;
    if (code == ENOSPC || code == EDQUOT)
        throw SystemError::fromErrno(code, QStringLiteral("Couldn't write the PDF: ") + why);
    throw EngineError(QStringLiteral("Couldn't write the PDF"), why);
}

} // namespace qv
