#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QMimeType;

namespace qv {

// The thumbnailer programs the desktop has installed, as the freedesktop Thumbnail Managing
// Standard describes them: "*.thumbnailer" key files in the thumbnailers folders of the data
// directories, each with the types it draws and the command that draws one.
class Thumbnailers {
public:
    Thumbnailers() = delete;

    struct Thumbnailer {
        QString exec;    // the command, with %i %o %s %u
        QString tryExec; // a program that must be there, when named
        QStringList mimeTypes;
    };

    // The data directories' thumbnailers folders, the user's own first.
    static QStringList folders();

    // Every thumbnailer of the folders, the first of a file name winning as the data
    // directories' order says; ones whose program is not installed are left out.
    static QList<Thumbnailer> installed(const QStringList& folders = Thumbnailers::folders());

    // One key file's thumbnailer; nothing when it lacks its group, a command or types.
    static std::optional<Thumbnailer> parse(const QByteArray& keyFile);

    // The thumbnailer for a type: one naming the type itself, else one naming a type it is a
    // kind of (its aliases and ancestors).
    static std::optional<Thumbnailer> forType(const QList<Thumbnailer>& thumbnailers, const QMimeType& type);

    // The command's words with its field codes filled in: %i the input path, %u its URI, %o
    // the output path, %s the size, %% a percent sign. Quoting as in desktop entries. Empty for
    // a command that does not parse.
    static QStringList command(const QString& exec, const QString& input, const QByteArray& inputUri,
                               const QString& output, int size);
};

} // namespace qv
