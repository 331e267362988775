#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace qv {

// What the owner of a drag offers, as far as it could be read while the drag runs: its list of
// URIs, the names of the types it offers, its "text/x-moz-url" body and the file name it
// suggests for a direct save.
struct DragOffer {
    QList<QUrl> uris;
    QStringList types;
    QByteArray mozUrl;
    QString directSaveName;

    // Data the drag carries instead of a file, as it will be saved: its name and MIME type.
    struct SavableData {
        QString name; // may be empty when the source names nothing
        QString mimeType;
        QString offeredType; // the type whose bytes are saved
    };

    QList<QUrl> localFiles() const;
    // Data of a type we can save, or nothing: images, or bytes of a named file.
    std::optional<SavableData> savableData() const;

    // The web address and title of a "text/x-moz-url" body (UTF-16 as browsers send it, or
    // UTF-8).
    static std::pair<QUrl, QString> parseMozUrl(const QByteArray& body);
    // A name from another application turned into a plain file name of ours: no folders, no
    // control characters, a length a file system takes; the extension made to fit the type.
    static QString fileNameFor(const QString& proposed, const QString& mimeType);
    // Of the offered types, the image type whose bytes are taken: the one the name speaks of,
    // else the first. A browser offers one picture as PNG, JPEG and GIF, each made on request;
    // the drop must take the type the drag announced. Empty when no image type is offered.
    static QString imageTypeFor(const QStringList& types, const QString& proposedName);
};

} // namespace qv
