#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace qv {

// Linux names files by bytes, Qt by text: a name whose bytes are not UTF-8 reads as text with
// U+FFFD in their place, which is the name of another file ("x\xff.jpg" reads as "x\uFFFD.jpg").
// QUrl keeps the bytes it is given in its encoded form, so a file URL made from them still
// tells whether its path can be spelt in text; these helpers carry names as bytes up to there.

// True when the URL's path, as the bytes the file system would be given, is what Qt's file
// layer gives for it; true for anything but a local file.
bool fileNameIsReadable(const QUrl& url);

// A file URL for an absolute path given as the file system's bytes, bytes that are not UTF-8
// kept; "." and ".." and doubled slashes are taken out first.
QUrl fileUrlForNativePath(const QByteArray& path);

// One line of a "text/uri-list" as a URL, its escapes and bytes kept as they are.
QUrl urlOfUriListLine(const QByteArray& line);

// The path a "file:" URI names on this machine, as bytes: its host must be empty, "localhost"
// or machineHost; its path absolute. Percent escapes and bytes that are not ASCII are taken
// as the name's own bytes. None for anything else.
std::optional<QByteArray> nativePathOfFileUri(const QByteArray& uri, const QString& machineHost);

// A command-line argument naming a file: a "file:" URI, or a path, relative ones taken from
// workingFolder (bytes as the file system has them). An invalid URI gives an empty URL.
QUrl fileUrlForArgument(const QByteArray& argument, const QByteArray& workingFolder,
                        const QString& machineHost);

} // namespace qv
