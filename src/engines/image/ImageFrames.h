#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// Animated images as a list of timed frames, written back as a looping GIF or as numbered PNGs
// with a concat list for FFmpeg. Pixels are decoded one frame at a time and freed before the
// next, so a long 4K animation costs a few frames of memory, not all of them.
class ImageFrames {
public:
    ImageFrames() = delete;

    // One frame as the header tells it; its pixels are read only by the writers.
    struct Frame {
        int index = 0;
        double delay = defaultDelay; // seconds, always above 0
    };

    static constexpr double defaultDelay = 0.1;
    static constexpr double shortestDelay = 0.02;

    // The frames in file order from the header alone; a still image is one frame of 0.1 s.
    // Throws EngineError "This file is damaged or not in a supported format".
    static QList<Frame> frames(const QString& path);

    // Seconds a frame is shown from its header delay in milliseconds: missing or shorter than
    // 20 ms counts as 0.1 s, as browsers do.
    static double frameDelay(std::optional<int> milliseconds);

    // A GIF that loops forever, every frame scaled so its longer side is at most maxDimension
    // (0 or less: full size). Throws EngineError ("Couldn't create the GIF", "Couldn't write
    // the GIF", the decoding sentence), CancellationError; nothing is left at the destination
    // on failure.
    static void writeGIF(const QString& sourcePath, const QString& destinationPath, int maxDimension,
                         std::stop_token stop);

    // frame00000.png, frame00001.png... and "frames.ffconcat" naming each with its delay, in an
    // existing folder; returns the list's path. Throws EngineError ("Couldn't write the PNG
    // file", the decoding sentence), SystemError for the list, CancellationError.
    static QString writeFrameSequence(const QString& sourcePath, const QString& folderPath,
                                      std::stop_token stop);

    // The concat list of these frames, six lines for two frames.
    static QString concatList(const QList<Frame>& frames);

    // A frame's name in a sequence folder.
    static QString frameFileName(int index);

    // The size of a frame of this size scaled to fit maxDimension: rounded, at least 1 pixel;
    // unchanged for 0 or less, or when the frame already fits.
    static std::pair<int, int> scaledSize(int width, int height, int maxDimension);
};

} // namespace qv
