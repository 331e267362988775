#pragma once

// Included only inside engines/image.

#include <QString>

#include <vips/vips.h>

namespace qv {

// A libvips target writing a new file with every write checked. libvips' own file target
// reports a refused write to the saver, and some savers (JPEG 2000 through OpenJPEG) retry it
// for ever: on a full disk the worker spun. This one takes the first failure, remembers its
// errno and swallows the rest, so the saver finishes and the caller throws the real cause.
class CheckedVipsTarget {
public:
    // Creates or empties the file; target() is null when it could not be made, with
    // error() set.
    explicit CheckedVipsTarget(const QString& path);
    ~CheckedVipsTarget();
    CheckedVipsTarget(const CheckedVipsTarget&) = delete;
    CheckedVipsTarget& operator=(const CheckedVipsTarget&) = delete;

    VipsTarget* target() const;

    // Closes the file; throws SystemError for the first write, flush or close the
    // system refused, leaving the file for the caller to remove. Safe to call once only.
    void finish();

    // Writes bytes at the file's end, or over what lies at offset, with the same checks.
    void write(const char* data, qsizetype size);
    void writeAt(qint64 offset, const char* data, qsizetype size);

    // The first errno the system gave, 0 while all went well.
    int error() const { return m_error; }

    // Writes all of bytes to a new file at path with checked writes; throws SystemError and
    // removes what it wrote when the system refuses.
    static void writeFile(const QString& path, const char* data, qsizetype size);

private:
    static gint64 onWrite(VipsTargetCustom*, const void* data, gint64 length, gpointer self);
    static gint64 onRead(VipsTargetCustom*, void* data, gint64 length, gpointer self);
    static gint64 onSeek(VipsTargetCustom*, gint64 offset, int whence, gpointer self);
    static int onEnd(VipsTargetCustom*, gpointer self);

    QString m_path;
    VipsTargetCustom* m_target = nullptr;
    int m_fd = -1;
    int m_error = 0;
    bool m_finished = false;
};

} // namespace qv
