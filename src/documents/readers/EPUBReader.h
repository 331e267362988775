#pragma once

#include "documents/model/DocumentModel.h"

#include <QUrl>

#include <stop_token>

namespace qv {

// Unpacks an EPUB into a folder and reads its package: the chapters in spine order and the
// book's title, author and language.
class EPUBReader {
public:
    EPUBReader() = delete;

    struct Book {
        std::optional<QString> title;
        std::optional<QString> author;
        std::optional<QString> language;
        QList<QUrl> chapters; // absolute, inside root
        QUrl root;
        QUrl packageURL;
    };

    // Unpacks file into folder (made by the caller, who also removes it). Only regular files
    // are unpacked, never above folder: links, devices and names that climb out are left
    // behind, and a package document or chapter whose path leads outside counts as missing.
    // Throws EngineError ("This e-book is damaged", also past the caps of ZipPackageReader;
    // "This file is not a valid EPUB (no container.xml)", "This file is not a valid EPUB
    // (unreadable package)", "This e-book has no readable chapters"), SystemError and
    // CancellationError.
    static Book read(const QUrl& file, const QUrl& folder, std::stop_token stop = {});

    // The chapters read by the XHTML reader with the book as root, a page break between two
    // chapters that gave blocks; chapters that cannot be read are skipped. The title is the
    // book's.
    // picturesLeftOut, when given, counts the pictures that lie outside the book or on a network.
    static DocumentModel documentModel(const Book& book, std::stop_token stop = {}, int* picturesLeftOut = nullptr);

    // Container and package documents, and chapters, larger than this are not read: a parsed
    // document takes several times its size in memory.
    static constexpr qint64 maximumPackageBytes = 64LL * 1024 * 1024;
    static constexpr qint64 maximumChapterBytes = 64LL * 1024 * 1024;
};

} // namespace qv
