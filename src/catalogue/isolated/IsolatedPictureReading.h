#pragma once

#include "catalogue/tools/PhotoCopyEstimate.h"
#include "jobs/WorkerServer.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// The pictures the windows make of a user's file beyond its thumbnail: an animation's frames
// for the previews and the photo editor's trial copy. Like IsolatedReading, each is made in a
// worker process once isolation is on, and in this process otherwise.
class IsolatedPictureReading {
public:
    struct Animation {
        QList<QImage> frames;
        QList<int> delays; // milliseconds each frame shows, one per frame
        int loopCount = -1; // repeats after the first play; -1 forever
    };

    // At most this many frames, and at most this many bytes of them all.
    static constexpr int animationFrameLimit = 500;
    static constexpr qint64 animationByteLimit = 128 << 20;

    // An animation Qt's readers can play, its frames shrunk to fit the box (never enlarged),
    // further down to half the box's size when that is needed to keep every frame within the
    // byte limit, and cut after as many as fit beyond that. Absent for a still picture, one
    // above 40 megapixels, or a file that cannot be read.
    static std::optional<Animation> animation(const QString& path, QSize box, std::stop_token stop = {});

    // The photo editor's estimate (see PhotoCopyEstimate). In this process, full keeps the
    // full-size picture and the trial copy goes into folder; a worker keeps the picture of the
    // file it last estimated for a minute and writes its trial copy into its own temporary
    // folder. Throws what the engines throw, CancellationError on a stop, EngineError when the
    // worker dies.
    static std::optional<PhotoCopyEstimate::Result> photoEstimate(const PhotoCopyEstimate::Request& request,
                                                              PhotoCopyEstimate::FullSize& full,
                                                              const QString& folder, std::stop_token stop);

    // The photo editor's cut-out of its preview picture (VisionEngine::liftSubject): the subject
    // model runs in a worker, which reads it once and keeps it. Throws what liftSubject throws,
    // CancellationError on a stop, EngineError when the worker dies.
    static QImage liftSubject(const QImage& picture, std::stop_token stop);

    // The answers a worker gives to these questions.
    static WorkerServer::Calls workerCalls();
};

} // namespace qv
