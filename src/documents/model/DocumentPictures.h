#pragma once

#include "documents/model/DocBlock.h"

#include <QString>

namespace qv {

// Where a document's pictures may come from: its own folder and below, nothing else. A
// document someone sends must not carry the reader's own files into its result: absolute
// paths elsewhere, ".." that climbs out, "file:" URLs of other folders and links that lead out
// (links are followed before the check) are left out, and nothing is fetched from a network.
class DocumentPictures {
public:
    DocumentPictures() = delete;

    enum class Place {
        inside,  // a regular file below the root; path is its resolved path
        outside, // elsewhere, or a network address: never read
        missing, // below the root but not a readable regular file (a missing picture, a pipe)
    };
    struct Resolved {
        Place place = Place::missing;
        QString path;
    };

    // A picture reference (a path relative to baseFolder, an absolute path, a "file:" URL,
    // percent escapes or not) against the root that confines it.
    static Resolved resolve(const QString& reference, const QString& baseFolder, const QString& root);

    // The image blocks whose files lie outside root are taken out; returns how many.
    static int removeOutside(QList<DocBlock>& blocks, const QString& baseFolder, const QString& root);

    // The job's note for pictures left out; empty for none.
    static QString leftOutNote(int count);
};

} // namespace qv
