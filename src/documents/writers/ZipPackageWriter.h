#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <stop_token>

namespace qv {

// Writes an office or e-book package: a zip whose entries go in the order they are added,
// each stored or deflated. Whole entries carry their sizes in their local headers and no extra
// field, so a stored first entry's data starts right after its name (an EPUB's "mimetype" at
// byte 38). The file is made new (an existing one is never replaced), synced when finished, and
// removed when anything fails or finish is never reached.
class ZipPackageWriter {
public:
    enum class Method { stored, deflated };

    // Throws SystemError (EEXIST for a taken path).
    ZipPackageWriter(const QString& path, std::stop_token stop);
    ~ZipPackageWriter();
    ZipPackageWriter(const ZipPackageWriter&) = delete;
    ZipPackageWriter& operator=(const ZipPackageWriter&) = delete;

    // A whole entry. Throws SystemError, CancellationError.
    void add(const QString& name, const QByteArray& data, Method method);

    // An entry written piece by piece, deflated, its sizes told in a descriptor at its end.
    void begin(const QString& name);
    void write(const QByteArray& data);

    // Closes the zip and syncs it; only then is the file complete. Throws SystemError.
    void finish();

    // Packages stay below the sizes a zip without its 64-bit records can describe.
    static constexpr qint64 maximumSize = 0xFFFFFFFFLL;
    static constexpr int maximumEntries = 0xFFFF;

private:
    struct Record {
        QByteArray name;
        quint16 flags = 0;
        quint16 method = 0;
        quint32 crc = 0;
        qint64 compressedSize = 0;
        qint64 size = 0;
        qint64 offset = 0;
    };
    struct Deflater;

    void startRecord(const QString& name, Method method, bool streamed);
    void localHeader(const Record& record);
    void endStream();
    void output(const QByteArray& bytes);
    void output(const char* bytes, qint64 length);
    void flushBuffer();
    [[noreturn]] void fail(int error);

    QString m_path;
    std::stop_token m_stop;
    int m_fd = -1;
    bool m_finished = false;
    qint64 m_written = 0;
    QByteArray m_buffer;
    QList<Record> m_records;
    std::unique_ptr<Deflater> m_stream; // the open streamed entry
    quint16 m_time = 0;
    quint16 m_date = 0;
};

} // namespace qv
