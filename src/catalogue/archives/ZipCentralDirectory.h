#pragma once

#include <QHash>
#include <QString>

namespace qv {

// A zip's central directory walked by hand: the end record at the file's end, right after the
// directory, every entry's record whole and pointing at a local header, and as many as the end
// record counts. libarchive's seeking zip reader refuses some zips that its streaming reader
// and other programs extract whole (padding in the extra fields, an end record whose signature
// is off); a zip whose directory is sound may be read that way, since the streaming reader's
// fault (a zip cut short reading as whole) is ruled out by the directory.
class ZipCentralDirectory {
public:
    ZipCentralDirectory() = delete;

    struct Walk {
        bool sound = false;
        // An entry made on a Unix system as a symbolic link: the streaming reader, which
        // never sees the directory, would make it a file.
        bool holdsLinks = false;
        // An entry packed with a method libarchive cannot unpack (Shrink, Reduce, Implode,
        // Deflate64), which only another reader can.
        bool holdsOlderMethods = false;
        // Every entry's local header agrees with its directory record (its name, unless one
        // is beyond ASCII, the method, encryption, and the CRC and sizes unless a data
        // descriptor follows). A
        // local header that disagrees is damage libarchive's directory reader does not notice
        // where the entry holds no data (a folder), and 7-Zip and unzip do.
        bool localHeadersAgree = true;
        int entries = 0;
        // The end record is of a zip stored inside this one, whose own directory was cut away:
        // the file starts with a zip's first entry, yet the directory lies further on than it
        // says, as only a self-extracting program's zip does.
        bool endsAnotherZip = false;
    };

    static Walk walk(const QString& path);

    // While one lives, a walk of a path already walked on this thread gives the same answer
    // without reading again: an extraction asks before it reads and again at its first entry,
    // of a file that does not change meanwhile.
    class Reuse {
    public:
        Reuse();
        ~Reuse();
        Reuse(const Reuse&) = delete;
        Reuse& operator=(const Reuse&) = delete;

    private:
        QHash<QString, Walk>* m_outer;
    };

private:
    static Walk walkFile(const QString& path);
};

} // namespace qv
