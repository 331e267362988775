#pragma once

#include "model/files/ArchiveListing.h"
#include "model/operations/EngineID.h"
#include "model/SharedEnums.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <mutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace qv {

class Clock;

// What this machine offers the engines: the FFmpeg, LibreOffice, pandoc and Ghostscript
// programs, the image types libvips reads and writes, the archive formats that can be listed,
// text recognition and subject lifting.
class Capabilities : public QObject {
    Q_OBJECT

public:
    // Everything the record asks of the system; tests put their own answers in.
    struct Lookups {
        std::function<QString(const char* name)> environmentVariable;
        std::function<bool(const QString& path)> isExecutableFile;
        std::function<std::optional<QString>(const QString& program)> findOnPath;
        // Names in a folder that match a wildcard pattern; no paths.
        std::function<QStringList(const QString& folder, const QString& pattern)> listFolder;
        QString applicationDirPath;
        const Clock* clock = nullptr;
        std::function<QSet<QString>()> readableImageFormatIds;
        std::function<QSet<QString>()> writableImageFormatIds;
        std::function<std::optional<QByteArray>(const QString& name)> probeResource;
        std::function<ArchiveListing(const QByteArray& data)> listArchive;
        // Whether the English text-recognition data is installed; whether subjects can be lifted.
        std::function<bool()> hasTextRecognitionData;
        std::function<bool()> canLiftSubjects;
        // Whether the picture library is installed; unset, it is taken to be.
        std::function<bool()> hasImageLibrary;

        // What Qt alone can tell: the environment, programs and folders. Image and archive
        // formats are left to whoever adds the engines' own look-ups.
        static Lookups basic();
    };

    // Created on first use, from any thread, with the look-ups start-up installed; kept for the
    // life of the process.
    static Capabilities& shared();
    static void installSystemLookups(std::function<Lookups()> makeLookups);

    explicit Capabilities(Lookups lookups, QObject* parent = nullptr);

    // Looks LibreOffice, pandoc, Ghostscript, KDE Connect and unar up again; unless forced, only when more than
    // 30 s have passed since the last refresh began.
    void refreshExternalApps(bool force);

    bool hasFFmpeg() const { return m_ffmpegURL.has_value(); }
    const std::optional<QUrl>& ffmpegURL() const { return m_ffmpegURL; }
    std::optional<QUrl> libreOfficeURL() const;
    std::optional<QUrl> iworkAppURL(IWorkApp app) const;
    // pandoc reads DOCX, ODT and RTF; Ghostscript ("gs") compresses PDFs. Found on the PATH, or
    // at $QUORVENDA_PANDOC and $QUORVENDA_GS.
    std::optional<QUrl> pandocURL() const;
    std::optional<QUrl> ghostscriptURL() const;
    // KDE Connect's command-line program, which sends files to paired devices; on the PATH or at
    // $QUORVENDA_KDECONNECT. Looked up with the other programs.
    std::optional<QUrl> kdeConnectURL() const;
    // The Unarchiver's "unar", which unpacks the solid RAR 4 archives libarchive cannot; on the
    // PATH or at $QUORVENDA_UNAR. Looked up with the other programs.
    std::optional<QUrl> unarURL() const;
    bool isAvailable(const EngineID& engine) const;

    // Removing and replacing a picture's background, and the photo editor's toggle for it.
    bool subjectLifting() const { return m_subjectLifting; }

    // The format ids ("zip", "7z", ...) that can be read; probed once, then kept.
    QSet<QString> probeArchiveFormats();
    // The stored set, probing first when there is none yet.
    QSet<QString> archiveFormats();

    // Type identifiers of the image formats that can be written and read. Asked of the image
    // library on first use: that loads all its format modules, which a job on an archive or a
    // document never needs.
    const QSet<QString>& imageIOWritable() const;
    const QSet<QString>& imageIOReadable() const;
    // Works out what is asked on first use, so that a later question is answered at once.
    void warmUp();

    // The archive formats read without any probe.
    static const QStringList& baseArchiveFormats();

private:
    std::optional<QUrl> findFFmpeg() const;
    std::optional<QUrl> findLibreOffice() const;
    std::optional<QUrl> findProgram(const char* variable, const QString& name) const;

    const Lookups m_lookups;

    mutable std::mutex m_lock; // guards the eight fields below
    QHash<IWorkApp, QUrl> m_iworkApps;
    std::optional<QUrl> m_libreOfficeURL;
    std::optional<QUrl> m_pandocURL;
    std::optional<QUrl> m_ghostscriptURL;
    std::optional<QUrl> m_kdeConnectURL;
    std::optional<QUrl> m_unarURL;
    QDateTime m_lastExternalCheck;
    std::optional<QSet<QString>> m_archiveFormats;

    mutable std::once_flag m_writableOnce;
    mutable std::once_flag m_readableOnce;
    mutable QSet<QString> m_imageIOWritable;
    mutable QSet<QString> m_imageIOReadable;

    // Worked out once at creation, then read without the lock.
    const std::optional<QUrl> m_ffmpegURL;
    const bool m_textRecognition;
    const bool m_imageLibrary;
    const bool m_subjectLifting;
};

} // namespace qv
