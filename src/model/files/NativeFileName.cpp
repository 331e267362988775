#include "model/files/NativeFileName.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace qv {

namespace {

// Latin-1 maps every byte to one character and back, and cleaning looks only at "/" and ".".
QByteArray cleanNativePath(const QByteArray& path)
{
    return QDir::cleanPath(QString::fromLatin1(path)).toLatin1();
}

} // namespace

bool fileNameIsReadable(const QUrl& url)
{
    if (!url.isLocalFile())
        return true;
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return !bytes.contains('\0') && QFile::encodeName(url.toLocalFile()) == bytes;
}

QUrl fileUrlForNativePath(const QByteArray& path)
{
    const QByteArray clean = cleanNativePath(path);
    const QString text = QFile::decodeName(clean);
    // A name Qt spells exactly gets the URL it always had, so URLs still compare equal.
    if (QFile::encodeName(text) == clean)
        return QUrl::fromLocalFile(text);
    return QUrl::fromEncoded("file://" + clean.toPercentEncoding("/"), QUrl::StrictMode);
}

QUrl urlOfUriListLine(const QByteArray& line)
{
    // Bytes a URI should have escaped are escaped as they are: QUrl would read them as text
    // and put U+FFFD in place of those that are not UTF-8.
    QByteArray escaped;
    escaped.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || byte < 0x20 || byte == ' ') {
            escaped += '%';
            escaped += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        } else {
            escaped += c;
        }
    }
    return QUrl::fromEncoded(escaped);
}

std::optional<QByteArray> nativePathOfFileUri(const QByteArray& uri, const QString& machineHost)
{
    if (!uri.left(5).toLower().startsWith("file:"))
        return std::nullopt;
    QByteArray rest = uri.mid(5);
    // A fragment or a query is no part of a file's name; a name's own "#" comes as "%23".
    for (const char mark : {'#', '?'}) {
        if (const qsizetype at = rest.indexOf(mark); at >= 0)
            rest.truncate(at);
    }
    if (rest.startsWith("//")) {
        const qsizetype slash = rest.indexOf('/', 2);
        const QString host = QString::fromUtf8(QByteArray::fromPercentEncoding(rest.mid(2, slash < 0 ? -1 : slash - 2)));
        if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0
            && host.compare(machineHost, Qt::CaseInsensitive) != 0)
            return std::nullopt;
        if (slash < 0)
            return std::nullopt;
        rest = rest.mid(slash);
    }
    const QByteArray path = QByteArray::fromPercentEncoding(rest);
    if (!path.startsWith('/') || path.contains('\0'))
        return std::nullopt;
    // "//x" would turn into a URL of host x; "/a/../b" into a second name for one file.
    return cleanNativePath(path);
}

QUrl fileUrlForArgument(const QByteArray& argument, const QByteArray& workingFolder,
                        const QString& machineHost)
{
    if (argument.left(5).toLower().startsWith("file:")) {
        const std::optional<QByteArray> path = nativePathOfFileUri(argument, machineHost);
        return path ? fileUrlForNativePath(*path) : QUrl();
    }
    if (argument.isEmpty() || argument.contains('\0'))
        return QUrl();
    // An address of another kind ("https://...") names no file here.
    const qsizetype colon = argument.indexOf("://");
    if (colon > 0 && !argument.startsWith('/')) {
        const QByteArray scheme = argument.left(colon);
        const bool isScheme = std::all_of(scheme.begin(), scheme.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+'
                || c == '-' || c == '.';
        });
        if (isScheme)
            return QUrl();
    }
    return fileUrlForNativePath(argument.startsWith('/') ? argument : workingFolder + '/' + argument);
}

} // namespace qv
