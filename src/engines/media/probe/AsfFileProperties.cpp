#include "engines/media/probe/AsfFileProperties.h"

#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cmath>

namespace qv {

namespace {

// GUIDs as stored: the first three groups little-endian.
const QByteArray headerObject = QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c");
const QByteArray filePropertiesObject = QByteArray::fromHex("a1dcab8c47a9cf118ee400c00c205365");

// Where the File Properties object starts in the header's bytes, and the header's bytes.
struct Found {
    QByteArray header;
    qint64 at = -1;
};

quint64 word64(const QByteArray& bytes, qint64 at)
{
    return qFromLittleEndian<quint64>(bytes.constData() + at);
}

Found find(QFile& file)
{
    Found found;
    const QByteArray start = file.read(30);
    if (start.size() < 30 || !start.startsWith(headerObject))
        return found;
    const quint64 size = word64(start, 16);
    // The header object holds the metadata objects too; a few megabytes at most in practice.
    if (size < 30 || size > (64u << 20))
        return found;
    found.header = start + file.read(qint64(size) - 30);
    if (quint64(found.header.size()) != size)
        return {};
    const quint32 count = qFromLittleEndian<quint32>(found.header.constData() + 24);
    qint64 at = 30;
    for (quint32 i = 0; i < count && at + 24 <= found.header.size(); ++i) {
        const quint64 objectSize = word64(found.header, at + 16);
        if (objectSize < 24 || objectSize > quint64(found.header.size() - at))
            return {};
        if (found.header.mid(at, 16) == filePropertiesObject && objectSize >= 104) {
            found.at = at;
            return found;
        }
        at += qint64(objectSize);
    }
    return {};
}

// Offsets in the File Properties object.
constexpr qint64 playDurationField = 64;
constexpr qint64 sendDurationField = 72;
constexpr qint64 prerollField = 80;
constexpr qint64 flagsField = 88;

} // namespace

std::optional<double> AsfFileProperties::playSeconds(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const Found found = find(file);
    if (found.at < 0)
        return std::nullopt;
    const quint32 flags = qFromLittleEndian<quint32>(found.header.constData() + found.at + flagsField);
    if (flags & 1) // broadcast: the durations are not set
        return std::nullopt;
    const double play = double(word64(found.header, found.at + playDurationField)) / 1e7;
    const double preroll = double(word64(found.header, found.at + prerollField)) / 1e3;
    return play - preroll;
}

void AsfFileProperties::setPlaySeconds(const QString& path, double seconds)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadWrite))
        throw SystemError::fromErrno(errno ? errno : EACCES, QStringLiteral("Cannot write ") + path);
    const Found found = find(file);
    if (found.at < 0)
        throw EngineError(QStringLiteral("Conversion failed"), QStringLiteral("no ASF file properties in ") + path);
    const quint64 preroll = word64(found.header, found.at + prerollField);
    const quint64 send = quint64(std::llround(seconds * 1e7));
    char fields[16];
    qToLittleEndian<quint64>(send + preroll * 10000, fields);
    qToLittleEndian<quint64>(send, fields + 8);
    static_assert(sendDurationField == playDurationField + 8);
    errno = 0;
    if (!file.seek(found.at + playDurationField) || file.write(fields, 16) != 16 || !file.flush())
        throw SystemError::fromErrno(errno ? errno : EIO, QStringLiteral("Cannot write ") + path);
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw SystemError::fromErrno(EIO, QStringLiteral("Cannot write ") + path);
}

} // namespace qv
