#pragma once

#include "jobs/WorkerServer.h"
#include "model/files/FileProbe.h"

#include <QImage>
#include <QSet>
#include <QSize>
#include <QString>

#include <chrono>
#include <optional>
#include <stop_token>

namespace qv {

// What the windows need to know of a user's file, read in a worker process once isolation is
// on (the application and the development driver turn it on at start), so that a file that
// crashes or hangs a library costs a thumbnail, not the application. Each answer is absent
// when the file cannot be read, as the engines' own answers are.
class IsolatedReading {
public:
    static void setEnabled(bool enabled);
    static bool isEnabled();

    struct Header {
        QSize size;       // upright, EXIF orientation applied
        bool alpha = false;
        int frames = 1;
    };
    // libvips' reading of the header; with qtFallback, Qt's readers answer for what libvips
    // cannot read.
    // A requested stop ends the question at once, its worker killed.
    static std::optional<Header> header(const QString& path, bool qtFallback = false, std::stop_token stop = {});

    // The first image shrunk to fit the box, never enlarged, upright. wholeFile: absent for a
    // file cut short or damaged. qtFallback: Qt's readers answer for what libvips cannot read,
    // for pictures of at most 40 megapixels.
    static std::optional<QImage> picture(const QString& path, QSize box, bool wholeFile = false,
                                         bool qtFallback = false, std::stop_token stop = {});

    // The preview picture an office package (OpenDocument, Office Open XML) carries, shrunk to
    // fit the box; absent when it carries none.
    static std::optional<QImage> packagePicture(const QString& path, QSize box, std::stop_token stop = {});

    // The picture a desktop thumbnailer draws of the file, shrunk to fit the box: exec is its
    // command (with %i %o %s %u), run behind the worker's walls and given thumbnailerSeconds;
    // absent when it fails, overruns or draws nothing.
    static std::optional<QImage> thumbnailerPicture(const QString& path, const QString& exec, QSize box,
                                                    std::stop_token stop = {});
    static constexpr int thumbnailerSeconds = 10;

    static std::optional<int> frameCount(const QString& path);
    static std::optional<bool> pdfNeedsPassword(const QString& path);
    // Asks pdfNeedsPassword, frameCount and mediaStreams of many files in one worker (a few
    // hundred at a time), so a drop of many costs one worker start, not one each; their
    // questions one by one then take the answers while each file is still the one asked about.
    // The worker is the one a job on the same files then runs in.
    static void lookAhead(const FilesAhead& files);
    static constexpr qsizetype lookAheadBatch = 256;
    // A media file's streams and FFmpeg's text on it (mediaStreamsOfFile), read in a worker
    // within the limit.
    static std::optional<MediaStreams> mediaStreams(const QString& path, std::chrono::milliseconds limit);
    // The picture types libvips reads (or writes) here, as format ids. Asking loads every
    // libvips module with its libraries, so once isolation is on a worker is asked; absent
    // when no worker answers.
    static std::optional<QSet<QString>> imageFormatIds(bool writable);

    // The answers a worker gives to these questions.
    static WorkerServer::Calls workerCalls();
};

} // namespace qv
