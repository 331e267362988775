#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <stop_token>

struct archive;

namespace qv {

// Reads the parts of an office or e-book package (a zip) straight from the file, without
// unpacking anything to disk. A package may hold at most maximumEntries entries and inflate to
// at most maximumBytes, counted as the data is inflated, over every pass: sizes the headers
// declare are never trusted.
class ZipPackageReader {
public:
    struct Messages {
        QString damaged;  // not a zip, or broken data
        QString tooLarge; // past one of the caps
    };

    static constexpr int maximumEntries = 10'000;
    static constexpr qint64 maximumBytes = qint64(1) << 30;

    ZipPackageReader(QString path, Messages messages, std::stop_token stop);

    // The data of the entry being visited, inflated on demand.
    class Entry {
    public:
        // Up to size bytes; 0 at the end. Throws EngineError (damaged, too large) and
        // CancellationError.
        qint64 read(char* buffer, qint64 size);
        // All of it; EngineError tooLarge past limit.
        QByteArray readAll(qint64 limit);

    private:
        friend class ZipPackageReader;
        Entry(ZipPackageReader& reader, archive* a) : m_reader(reader), m_archive(a) {}
        ZipPackageReader& m_reader;
        archive* m_archive;
    };

    // One pass over the entries in their order in the file; visit gets each regular file's
    // name (as stored, "./" and a leading "/" removed) and may read it. Throws EngineError and
    // CancellationError, and whatever visit throws.
    void forEachEntry(const std::function<void(const QString& name, Entry& entry)>& visit);

    const Messages& messages() const { return m_messages; }

private:
    [[noreturn]] void failDamaged(archive* a) const;

    QString m_path;
    Messages m_messages;
    std::stop_token m_stop;
    qint64 m_inflated = 0;
};

} // namespace qv
