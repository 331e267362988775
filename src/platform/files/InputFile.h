#pragma once

#include "model/errors/EngineError.h"
#include "model/files/FileInfo.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace qv {

// Whether a file handed to Quorvenda may be acted on, told from its name and its kind before
// anything opens it: a name Quorvenda cannot spell exactly (bytes that are not UTF-8 would be
// read as another file's name), a pipe, socket or device (reading one waits forever or never
// ends), a link that goes round in a circle, a file this user may not read.
class InputFile {
public:
    static const QString unreadableNameMessage;   // "Quorvenda can't read this file's name"
    static const QString notAllowedMessage;       // "Quorvenda isn't allowed to read this file"
    static const QString linkLoopMessage;
    static const QString danglingLinkMessage;

    // The sentence for a special file's kind (pipe, socket, device), from its content type;
    // none for anything else.
    static std::optional<QString> specialFileMessage(const QString& contentType);

    // The content type of a pipe, socket or device from its stat mode ("inode/fifo"...); none
    // for regular files, folders and links. Such files are never opened: that can wait forever.
    static std::optional<QString> specialFileType(unsigned int mode);

    // What the name and the kind already found tell against a file (a wheel offers nothing for
    // it): a name that cannot be spelt, a pipe, socket or device. Looks at nothing on disk.
    static std::optional<QString> refusedFileMessage(const FileInfo& file);

    // Why this item must not be acted on; none when it may (a missing file too: the operation
    // reports that itself). Opens a regular file for reading only to learn whether it may.
    static std::optional<EngineError> problem(const QUrl& url);
    // The first problem of the items, as an EngineError naming the file in its log.
    static std::optional<EngineError> problem(const QList<FileInfo>& files);
    // Throws it.
    static void check(const QList<FileInfo>& files);
};

} // namespace qv
