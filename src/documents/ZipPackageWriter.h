#pragma once

#include <QByteArray>
#include <QString>

#include <stop_token>

#include <sys/types.h>

struct archive;

namespace qv {

// Writes an office or e-book package: a zip whose entries go in the order they are added,
// each stored or deflated. The file is made new (an existing one is never replaced), synced
// when finished, and removed when anything fails or finish is never reached.
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

    // An entry written piece by piece, deflated, its size told at its end.
    void begin(const QString& name);
    void write(const QByteArray& data);

    // Closes the zip and syncs it; only then is the file complete. Throws SystemError.
    void finish();

private:
    void header(const QString& name, Method method, qint64 size);
    void data(const QByteArray& bytes);
    [[noreturn]] void fail();

    QString m_path;
    std::stop_token m_stop;
    archive* m_archive = nullptr;
    int m_fd = -1;
    int m_writeError = 0;
    bool m_finished = false;

    static ssize_t writeOut(archive* a, void* self, const void* buffer, size_t length);
};

} // namespace qv
