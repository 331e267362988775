#include "catalogue/archives/ArchiveReader.h"

#include "catalogue/archives/ArchiveEntryName.h"
#include "catalogue/archives/ZipCentralDirectory.h"

#include "model/errors/SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

namespace qv {

namespace {

constexpr std::size_t blockSize = 64 * 1024;
constexpr qint64 tarBlock = 512;

bool mentionsPassword(const QString& text)
{
    const QString lower = text.toLower();
    return lower.contains(QLatin1String("passphrase")) || lower.contains(QLatin1String("encrypt"))
        || lower.contains(QLatin1String("password"));
}

// libarchive's warning that a name is not in the encoding the header declares (a zip name
// flagged UTF-8 or a pax path that is not UTF-8, an owner's name): the name's bytes are still
// there, and they say nothing about the data.
bool isNameEncodingWarning(const char* text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\w+( in pax header)? (can't|cannot) be converted (from \\S+ )?to current locale\\.?$"));
    return text && pattern.match(QString::fromUtf8(text)).hasMatch();
}

// libarchive's warning about a pax attribute it could not parse (an empty value without its
// newline): the tar reader goes on with the entry's ordinary header, which libarchive's own
// tests hold as the right reading; the attribute is metadata, not the entry's data.
bool isMalformedPaxAttributeWarning(const char* text)
{
    return text && qstrcmp(text, "Ignoring malformed pax extended attribute") == 0;
}

bool isFileError(int code)
{
    return code == ENOENT || code == EACCES || code == EPERM || code == ENOTDIR
        || code == EISDIR || code == ELOOP || code == EIO;
}

// Why a 7-Zip archive's start header cannot be trusted: its CRC does not match the twenty bytes
// it covers, or the header it points to lies past the file. libarchive takes a zeroed start
// header for an empty archive, whatever follows it. Empty for anything else.
QString sevenZipStartProblem(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(32);
    if (!head.startsWith(QByteArrayView("7z\xBC\xAF\x27\x1C", 6)))
        return {};
    if (head.size() < 32)
        return QStringLiteral("The 7-Zip start header is cut short");
    const auto le = [&head](int at, int bytes) {
        quint64 value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = value << 8 | uchar(head[at + i]);
        return value;
    };
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(head.constData() + 12), 20));
    if (crc != quint32(le(8, 4)))
        return QStringLiteral("The 7-Zip start header's CRC does not match");
    const quint64 offset = le(12, 8);
    const quint64 length = le(20, 8);
    if (offset > quint64(size) || length > quint64(size) || 32 + offset + length > quint64(size))
        return QStringLiteral("The 7-Zip header lies past the end of the file");
    return {};
}

// Whether a 7-Zip's start header points at a header at all: an archive of nothing is written
// without one, so a header that lists no entry lost them.
bool sevenZipPointsAtAHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(32);
    if (head.size() < 32 || !head.startsWith(QByteArrayView("7z\xBC\xAF\x27\x1C", 6)))
        return false;
    return head.mid(20, 8) != QByteArray(8, '\0');
}

// Whether the last block of a tar that holds anything but zeros is followed by a block of zeros,
// as a tar's end is. Read from the end, so a long run of zeros costs little.
bool tarEndsWithAZeroBlock(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const QByteArray zeros(tarBlock, '\0');
    bool zeroAfter = false;
    for (qint64 block = file.size() / tarBlock - 1; block >= 0; --block) {
        if (!file.seek(block * tarBlock))
            return true;
        const QByteArray bytes = file.read(tarBlock);
        if (bytes.size() != tarBlock)
            return true;
        if (bytes != zeros)
            return zeroAfter;
        zeroAfter = true;
    }
    return true;
}

} // namespace

bool ArchiveReader::isUnsupportedMethod(const QString& text)
{
    // libarchive 3.6's words for a zip's method and a 7-Zip coder or filter (PowerPC, ARM64)
    // it does not implement.
    return text.startsWith(QLatin1String("Unsupported ZIP compression method"))
        || text.startsWith(QLatin1String("Unknown codec ID")) || text.startsWith(QLatin1String("Unexpected codec ID"))
        || text.startsWith(QLatin1String("Unsupported filter "));
}

ArchiveReader::Signature ArchiveReader::signatureOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Signature::other;
    const QByteArray head = file.read(512);
    if (head.startsWith(QByteArrayView("Rar!\x1a\x07", 6)))
        return Signature::rar;
    if (head.startsWith(QByteArrayView("7z\xBC\xAF\x27\x1C", 6)))
        return Signature::sevenZip;
    // POSIX's "ustar\0" or GNU's "ustar  \0" after a header's first 257 bytes.
    if (head.size() == 512 && head.mid(257, 5) == "ustar")
        return Signature::tar;
    return Signature::other;
}

QStringList ArchiveReader::rarVolumes(const QString& path)
{
    // "name.part1.rar", "name.part01.rar"...: the parts after the first, numbered alike.
    static const QRegularExpression first(QStringLiteral("^(.*\\.part)(0*1)(\\.rar)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = first.match(path);
    if (!match.hasMatch())
        return {};
    const qsizetype width = match.captured(2).size();
    QStringList volumes{path};
    for (int number = 2; number < 10000; ++number) {
        const QString next = match.captured(1) + QString::number(number).rightJustified(width, QLatin1Char('0'))
            + match.captured(3);
        if (!QFileInfo(next).isFile())
            break;
        volumes.append(next);
    }
    return volumes;
}

QString ArchiveReader::missingRarVolume(const QString& path)
{
    const QStringList volumes = rarVolumes(path);
    if (volumes.isEmpty())
        return {};
    try {
        if (!RarBlockChain::walkFile(volumes.last()).continuesInNextVolume())
            return {};
    } catch (const SystemError&) {
        return {};
    }
    static const QRegularExpression numbered(QStringLiteral("^(.*\\.part)(\\d+)(\\.rar)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = numbered.match(volumes.last());
    if (!match.hasMatch())
        return {};
    const QString next = match.captured(1)
        + QString::number(match.captured(2).toInt() + 1).rightJustified(match.captured(2).size(), QLatin1Char('0'))
        + match.captured(3);
    return QFileInfo(next).fileName();
}

ArchiveReader::ArchiveReader(const QString& path, Kind kind)
    : m_path(path)
    , m_kind(kind)
    , m_fileSize(QFileInfo(path).size())
{
    if (kind == Kind::archive) {
        const QStringList volumes = rarVolumes(path);
        for (qsizetype i = 1; i < volumes.size(); ++i)
            m_fileSize += QFileInfo(volumes[i]).size();
        if (const QString missing = missingRarVolume(path); !missing.isEmpty())
            throw ArchiveReadError(missingVolumeMessage + QChar(0x201C) + missing + QChar(0x201D));
    }
    if (kind == Kind::archive) {
        if (const QString problem = sevenZipStartProblem(path, m_fileSize); !problem.isEmpty())
            throw ArchiveReadError(problem);
        m_signature = signatureOf(path);
    }
    std::optional<ArchiveReadError> refused;
    if (open(false, refused))
        return;
    // libarchive 3.6's seeking zip reader refuses valid zips with padding in their extra fields;
    // its streaming reader takes them, and is trusted only where the directory is sound.
    if (kind == Kind::archive && refused && !refused->needsPassword()) {
        const ZipCentralDirectory::Walk zip = ZipCentralDirectory::walk(path);
        std::optional<ArchiveReadError> again;
        if (zip.sound && !zip.holdsLinks && open(true, again))
            return;
    }
    throw *refused;
}

// Opens the file with every reader, or with the streaming zip reader alone; false with the
// reason in refused when the file is no archive of a readable kind.
bool ArchiveReader::open(bool streamingZip, std::optional<ArchiveReadError>& refused)
{
    m_archive = archive_read_new();
    if (!m_archive)
        throw SystemError::fromErrno(ENOMEM);
    archive_read_support_filter_all(m_archive);
    if (streamingZip) {
        archive_read_support_format_zip_streamable(m_archive);
    } else if (m_kind == Kind::compressedFile) {
        archive_read_support_format_raw(m_archive);
        // The raw reader wants a byte: a stream that unpacks to nothing is an empty one.
        archive_read_support_format_empty(m_archive);
    } else if (m_signature == Signature::rar) {
        // A RAR that stores a zip near its end would otherwise be read as that zip, whose
        // directory libarchive's zip reader finds there.
        archive_read_support_format_rar(m_archive);
        archive_read_support_format_rar5(m_archive);
    } else if (m_signature == Signature::sevenZip) {
        archive_read_support_format_7zip(m_archive);
    } else if (m_signature == Signature::tar) {
        archive_read_support_format_tar(m_archive);
    } else {
        // Every format libarchive reads, but zip only through its central directory: read from
        // its local headers alone, a zip cut short reads as a whole one, its links as files.
        archive_read_support_format_ar(m_archive);
        archive_read_support_format_cpio(m_archive);
        archive_read_support_format_empty(m_archive);
        archive_read_support_format_lha(m_archive);
        archive_read_support_format_mtree(m_archive);
        archive_read_support_format_tar(m_archive);
        archive_read_support_format_xar(m_archive);
        archive_read_support_format_warc(m_archive);
        archive_read_support_format_7zip(m_archive);
        archive_read_support_format_cab(m_archive);
        archive_read_support_format_rar(m_archive);
        archive_read_support_format_rar5(m_archive);
        archive_read_support_format_iso9660(m_archive);
        archive_read_support_format_zip_seekable(m_archive);
        archive_clear_error(m_archive);
    }

    // The first part of a RAR volume set opens with its other parts, when every one is there.
    const QStringList volumes = m_kind == Kind::archive && !streamingZip ? rarVolumes(m_path) : QStringList();
    if (volumes.size() > 1) {
        QList<QByteArray> encoded;
        for (const QString& volume : volumes)
            encoded.append(QFile::encodeName(volume));
        std::vector<const char*> names;
        for (const QByteArray& name : encoded)
            names.push_back(name.constData());
        names.push_back(nullptr);
        if (archive_read_open_filenames(m_archive, names.data(), blockSize) == ARCHIVE_OK)
            return true;
    } else if (archive_read_open_filename(m_archive, QFile::encodeName(m_path).constData(), blockSize)
               == ARCHIVE_OK) {
        return true;
    }
    // The destructor does not run for a constructor that throws.
    const int code = archive_errno(m_archive);
    const char* text = archive_error_string(m_archive);
    const QString message = QString::fromUtf8(text ? text : "Unrecognized archive format");
    archive_read_free(m_archive);
    m_archive = nullptr;
    if (isFileError(code))
        throw SystemError::fromErrno(code, m_path);
    refused.emplace(message, mentionsPassword(message));
    return false;
}

ArchiveReader::~ArchiveReader()
{
    archive_read_free(m_archive);
}

void ArchiveReader::fail(const char* fallback) const
{
    const char* text = archive_error_string(m_archive);
    const QString message = QString::fromUtf8(text ? text : fallback);
    throw ArchiveReadError(message, mentionsPassword(message) || rarHoldsEncryptedData());
}

bool ArchiveReader::rarHoldsEncryptedData() const
{
    // libarchive 3.6 calls a RAR 5 entry with encrypted data damaged.
    const int format = archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK;
    if (format != ARCHIVE_FORMAT_RAR && format != ARCHIVE_FORMAT_RAR_V5
        && !QFileInfo(m_path).suffix().startsWith(QLatin1String("rar"), Qt::CaseInsensitive))
        return false;
    try {
        return (m_rarChain ? *m_rarChain : RarBlockChain::walkFile(m_path)).holdsEncryptedData();
    } catch (const SystemError&) {
        return false;
    }
}

archive_entry* ArchiveReader::nextEntry()
{
    archive_entry* entry = nullptr;
    const qint64 before = archive_filter_bytes(m_archive, 0);
    const int status = archive_read_next_header(m_archive, &entry);
    if (status == ARCHIVE_EOF) {
        // A tar ends with blocks of zeros. libarchive takes an end at a block boundary without
        // them for the archive's end ("some writers omit them"), so a tar cut between two
        // entries would read as whole with the later ones gone. Where the entry before was
        // read to its end (its padding with it), the end blocks are what this call consumed.
        // A tar of one entry is read whole without them, as tar programs read it: the smallest
        // tar is one header alone.
        const int format = archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK;
        if (m_readToEnd && m_readTwoEntries && format == ARCHIVE_FORMAT_TAR
            && archive_filter_bytes(m_archive, 0) - before < tarBlock)
            throw ArchiveReadError(QStringLiteral("The archive ends without its end blocks: it was cut short"));
        // A header libarchive skips (a volume label with a size it cannot read) leaves a tar
        // of no entries, and of no format named, though one that holds more than zeros still
        // ends with them; and a 7-Zip of nothing is written without a header at all.
        if (!m_readAnEntry && !m_path.isEmpty() && archive_filter_code(m_archive, 0) == ARCHIVE_FILTER_NONE
            && (((format == ARCHIVE_FORMAT_TAR || format == 0) && !tarEndsWithAZeroBlock(m_path))
                || (format == ARCHIVE_FORMAT_7ZIP && sevenZipPointsAtAHeader(m_path))))
            throw ArchiveReadError(QStringLiteral("The archive's header lists no entry, though it holds more"));
        // A RAR cut before its first file header ends here too, as an archive of nothing: its
        // blocks say whether it ends as a RAR does.
        if (!m_rarChain && !m_path.isEmpty() && (format == ARCHIVE_FORMAT_RAR || format == ARCHIVE_FORMAT_RAR_V5)) {
            m_rarChain = RarBlockChain::walkFile(m_path);
            if (!m_rarChain->problem().isEmpty())
                throw ArchiveReadError(m_rarChain->problem());
        }
        if (m_rarChain && m_rarChain->isLaterVolume())
            throw ArchiveReadError(laterVolumeMessage);
        return nullptr;
    }
    m_readToEnd = false;
    m_readTwoEntries = m_readAnEntry;
    m_readAnEntry = true;
    if (status < ARCHIVE_WARN)
        fail("Damaged archive entry");
    checkRarBlocks(entry);
    if (!m_checkedZipHeaders && (archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP) {
        m_checkedZipHeaders = true;
        const ZipCentralDirectory::Walk zip = ZipCentralDirectory::walk(m_path);
        if (zip.sound && !zip.localHeadersAgree)
            throw ArchiveReadError(QStringLiteral("A local header does not match the central directory"));
        if (zip.endsAnotherZip)
            throw ArchiveReadError(QStringLiteral("The directory at the end is of a zip stored inside: it was cut short"));
    }

    // The raw reader passes any bytes through: a file that is not compressed at all is no
    // compressed file.
    if (m_kind == Kind::compressedFile && !m_checkedFilter) {
        m_checkedFilter = true;
        if (archive_filter_code(m_archive, 0) == ARCHIVE_FILTER_NONE)
            throw ArchiveReadError(QStringLiteral("The data is not compressed"));
    }
    if (archive_entry_is_data_encrypted(entry) || archive_entry_is_metadata_encrypted(entry)) {
        const char* name = archive_entry_pathname(entry);
        throw ArchiveReadError(QStringLiteral("Encrypted entry %1")
                                   .arg(ArchiveEntryName::fromBytes(QByteArrayView(name ? name : ""))),
                               true);
    }
    // A warning is libarchive reading past damage it noticed; the entry is not to be trusted.
    const char* warning = archive_error_string(m_archive);
    if (status != ARCHIVE_OK && !isNameEncodingWarning(warning) && !isMalformedPaxAttributeWarning(warning))
        fail("Damaged archive entry");
    // RAR 5 refuses to read data of a folder, which has none.
    m_noData = (archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAR_V5
        && archive_entry_filetype(entry) == AE_IFDIR;
    return entry;
}

void ArchiveReader::checkRarBlocks(archive_entry* entry)
{
    m_expected.reset();
    const int format = archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK;
    if (format != ARCHIVE_FORMAT_RAR && format != ARCHIVE_FORMAT_RAR_V5)
        return;
    if (!m_rarChain) {
        m_rarChain = RarBlockChain::walkFile(m_path);
        if (!m_rarChain->problem().isEmpty())
            throw ArchiveReadError(m_rarChain->problem());
    }
    if (m_rarChain->isLaterVolume())
        throw ArchiveReadError(laterVolumeMessage);
    // libarchive 3.6 reads RAR 5 data that is encrypted as if it were not.
    if (format == ARCHIVE_FORMAT_RAR_V5 && m_rarChain->holdsEncryptedData())
        throw ArchiveReadError(QStringLiteral("Encrypted RAR 5 entries"), true);
    // libarchive gives one entry per file header; once the two part ways, nothing is matched.
    const auto& stored = m_rarChain->storedData();
    if (m_entryIndex == std::numeric_limits<qsizetype>::max())
        return;
    if (++m_entryIndex >= stored.size()) {
        m_entryIndex = std::numeric_limits<qsizetype>::max();
        return;
    }
    const std::optional<RarBlockChain::StoredData>& expected = stored[m_entryIndex];
    if (!expected)
        return;
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) != expected->size) {
        m_entryIndex = std::numeric_limits<qsizetype>::max();
        return;
    }
    m_expected = expected;
    m_crc = quint32(crc32(0, nullptr, 0));
    m_blake2.reset();
    if (!expected->blake2.isEmpty())
        m_blake2.emplace();
    m_checkedUpTo = 0;
}

QString ArchiveReader::nameText(const char* native, const char* utf8, const char* what) const
{
    // The native form holds the bytes as the archive gave them, converted only where the
    // header declared an encoding (and Qt runs in a UTF-8 locale).
    const ArchiveEntryName::Legacy legacy =
        (archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP
        ? ArchiveEntryName::Legacy::cp437
        : ArchiveEntryName::Legacy::none;
    if (native)
        return ArchiveEntryName::fromBytes(QByteArrayView(native), legacy);
    if (utf8)
        return ArchiveEntryName::fromBytes(QByteArrayView(utf8));
    throw ArchiveReadError(QStringLiteral("%1 cannot be read").arg(QLatin1String(what)));
}

QString ArchiveReader::pathname(archive_entry* entry) const
{
    // A 7-Zip entry may have no name at all, which is not one that cannot be read.
    if (holdsNamelessEntries() && !archive_entry_pathname(entry) && !archive_entry_pathname_utf8(entry)
        && !archive_entry_pathname_w(entry))
        return {};
    return nameText(archive_entry_pathname(entry), archive_entry_pathname_utf8(entry),
                    "Entry name");
}

bool ArchiveReader::holdsNamelessEntries() const
{
    return (archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_7ZIP;
}

QString ArchiveReader::hardlink(archive_entry* entry) const
{
    const char* native = archive_entry_hardlink(entry);
    const char* utf8 = archive_entry_hardlink_utf8(entry);
    return native || utf8 ? nameText(native, utf8, "Link name") : QString();
}

QString ArchiveReader::symlink(archive_entry* entry) const
{
    const char* native = archive_entry_symlink(entry);
    const char* utf8 = archive_entry_symlink_utf8(entry);
    return native || utf8 ? nameText(native, utf8, "Link target") : QString();
}

bool ArchiveReader::readBlock(const void*& data, std::size_t& size, qint64& offset)
{
    if (m_noData) {
        data = nullptr;
        size = 0;
        offset = 0;
        return false;
    }
    la_int64_t at = 0;
    const int status = archive_read_data_block(m_archive, &data, &size, &at);
    if (status == ARCHIVE_EOF) {
        offset = at;
        m_readToEnd = true;
        if (m_expected && m_checkedUpTo == m_expected->size) {
            if (m_expected->crc && m_crc != *m_expected->crc)
                throw ArchiveReadError(QStringLiteral("Stored data does not match its checksum"));
            if (m_blake2 && m_blake2->digest() != m_expected->blake2)
                throw ArchiveReadError(QStringLiteral("Stored data does not match its BLAKE2 hash"));
        }
        m_expected.reset();
        return false;
    }
    // A checksum that does not match comes as a warning after the last block.
    if (status != ARCHIVE_OK)
        fail("Damaged archive data");
    offset = at;
    if (m_expected) {
        if (at == m_checkedUpTo) {
            m_crc = quint32(crc32(m_crc, static_cast<const Bytef*>(data), uInt(size)));
            if (m_blake2)
                m_blake2->add(QByteArrayView(static_cast<const char*>(data), qsizetype(size)));
            m_checkedUpTo += qint64(size);
        } else {
            m_expected.reset();
        }
    }
    return true;
}

bool ArchiveReader::skipsWithoutUnpacking() const
{
    if (archive_filter_code(m_archive, 0) != ARCHIVE_FILTER_NONE)
        return false;
    const int format = archive_format(m_archive) & ARCHIVE_FORMAT_BASE_MASK;
    return format == ARCHIVE_FORMAT_ZIP || format == ARCHIVE_FORMAT_TAR;
}

std::optional<qint64> ArchiveReader::declaredTotal(const QString& path)
{
    ArchiveReader reader(path, Kind::archive);
    qint64 total = 0;
    while (archive_entry* entry = reader.nextEntry()) {
        if (!reader.skipsWithoutUnpacking())
            return std::nullopt;
        if (archive_entry_size_is_set(entry) && archive_entry_filetype(entry) == AE_IFREG) {
            const qint64 size = archive_entry_size(entry);
            if (size > 0 && __builtin_add_overflow(total, size, &total))
                return std::numeric_limits<qint64>::max();
        }
    }
    return total;
}

double ArchiveReader::fractionRead() const
{
    if (m_fileSize <= 0)
        return 0.0;
    const double read = double(archive_filter_bytes(m_archive, -1));
    return std::clamp(read / double(m_fileSize), 0.0, 1.0);
}

} // namespace qv
