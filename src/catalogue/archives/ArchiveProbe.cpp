#include "catalogue/archives/ArchiveProbe.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace qv {

namespace {

struct ArchiveReadFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

QString errorText(archive* a, const char* fallback)
{
    const char* text = archive_error_string(a);
    return QString::fromUtf8(text ? text : fallback);
}

} // namespace

ArchiveListing listArchiveInMemory(const QByteArray& data)
{
    std::unique_ptr<archive, ArchiveReadFree> reader(archive_read_new());
    if (!reader)
        return {ArchiveListing::Outcome::failed, QStringLiteral("Out of memory")};
    if (archive_read_support_filter_all(reader.get()) < ARCHIVE_WARN
        || archive_read_support_format_all(reader.get()) < ARCHIVE_WARN) {
        return {ArchiveListing::Outcome::failed,
                errorText(reader.get(), "The archive reader could not be set up")};
    }
    if (archive_read_open_memory(reader.get(), data.constData(), size_t(data.size()))
        != ARCHIVE_OK) {
        return {ArchiveListing::Outcome::unreadable,
                errorText(reader.get(), "Unrecognized archive format")};
    }

    // Reading the contents, not only the names, proves the decompressor is there too.
    char buffer[8192];
    archive_entry* entry = nullptr;
    int entries = 0;
    for (;;) {
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            return {ArchiveListing::Outcome::unreadable, errorText(reader.get(), "Damaged entry")};
        ++entries;
        la_ssize_t got = 0;
        while ((got = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0) {
        }
        if (got < 0)
            return {ArchiveListing::Outcome::unreadable, errorText(reader.get(), "Damaged data")};
    }
    if (entries == 0)
        return {ArchiveListing::Outcome::unreadable, QStringLiteral("The archive has no entries")};
    return {ArchiveListing::Outcome::listed, {}};
}

} // namespace qv
