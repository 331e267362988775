#include "documents/readers/ZipPackageReader.h"

#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace qv {

namespace {

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

QString archiveText(archive* a)
{
    const char* text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : QString();
}

QString partName(archive_entry* entry)
{
    const char* utf8 = archive_entry_pathname_utf8(entry);
    QString name = utf8 ? QString::fromUtf8(utf8)
                        : QFile::decodeName(archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "");
    while (name.startsWith(QLatin1String("./")))
        name.remove(0, 2);
    while (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    return name;
}

} // namespace

ZipPackageReader::ZipPackageReader(QString path, Messages messages, std::stop_token stop)
    : m_path(std::move(path)), m_messages(std::move(messages)), m_stop(std::move(stop))
{
}

void ZipPackageReader::failDamaged(archive* a) const
{
    throw EngineError(m_messages.damaged, archiveText(a));
}

void ZipPackageReader::forEachEntry(
    const std::function<void(const QString& name, Entry& entry)>& visit)
{
    throwIfCancelled(m_stop);
    std::unique_ptr<archive, ArchiveFree> owner(archive_read_new());
    archive* a = owner.get();
    if (!a)
        throw std::bad_alloc();
    archive_read_support_format_zip(a);
    if (archive_read_open_filename(a, QFile::encodeName(m_path).constData(), 1 << 16) != ARCHIVE_OK)
        failDamaged(a);
    int entries = 0;
    for (;;) {
        throwIfCancelled(m_stop);
        archive_entry* header = nullptr;
        const int status = archive_read_next_header(a, &header);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            failDamaged(a);
        if (++entries > maximumEntries)
            throw EngineError(m_messages.tooLarge);
        if (archive_entry_filetype(header) != AE_IFREG)
            continue;
        Entry entry(*this, a);
        visit(partName(header), entry);
    }
}

qint64 ZipPackageReader::Entry::read(char* buffer, qint64 size)
{
    throwIfCancelled(m_reader.m_stop);
    // Small steps, so the caps are checked before much more is inflated.
    const la_ssize_t n = archive_read_data(m_archive, buffer, size_t(std::min<qint64>(size, 1 << 20)));
    if (n < 0)
        m_reader.failDamaged(m_archive);
    m_reader.m_inflated += n;
    if (m_reader.m_inflated > maximumBytes)
        throw EngineError(m_reader.m_messages.tooLarge);
    return n;
}

QByteArray ZipPackageReader::Entry::readAll(qint64 limit)
{
    QByteArray bytes;
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = read(buffer, sizeof buffer);
        if (n == 0)
            return bytes;
        if (bytes.size() + n > limit)
            throw EngineError(m_reader.m_messages.tooLarge);
        bytes.append(buffer, n);
    }
}

} // namespace qv
