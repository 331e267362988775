#include "documents/TextFileDecoding.h"

#include "model/EngineError.h"
#include "model/SystemError.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qv {

const QString unknownEncodingMessage = QStringLiteral("This text file uses an unknown encoding");

namespace {

// Windows-1252's row 0x80 to 0x9F; 0 where the code page leaves a byte undefined.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

std::optional<QString> decodeWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char16_t unit = byte;
        if (byte >= 0x80 && byte < 0xA0) {
            unit = windows1252High[byte - 0x80];
            if (unit == 0)
                return std::nullopt;
        }
        *out++ = QChar(unit);
    }
    return text;
}

} // namespace

QString decodeTextDetectingEncoding(const QByteArray& bytes)
{
    if (const auto marked = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*marked, QStringConverter::Flag::Stateless);
        QString text = decoder(bytes);
        if (!decoder.hasError())
            return text;
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    if (auto western = decodeWindows1252(bytes))
        return *western;
    throw EngineError(unknownEncodingMessage);
}

QString readTextFileDetectingEncoding(const QString& path, qint64 maximumBytes,
                                      const QString& tooLarge)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot open ") + path);
    QByteArray bytes;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw SystemError::fromErrno(error, QStringLiteral("Cannot read ") + path);
        }
        if (n == 0)
            break;
        if (bytes.size() + n > maximumBytes) {
            ::close(fd);
            throw EngineError(tooLarge);
        }
        bytes.append(buffer, n);
    }
    ::close(fd);
    return decodeTextDetectingEncoding(bytes);
}

} // namespace qv
