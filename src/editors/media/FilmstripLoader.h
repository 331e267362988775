#pragma once

#include <QImage>
#include <QUrl>

#include <functional>
#include <stop_token>

namespace qv {

// Loads `count` filmstrip frames of the file, frame i at duration × (i + 0.5) / count seconds,
// one FFmpeg run per frame and three at a time, off the main thread. Each frame that arrives
// goes to onFrame on the main thread, in any order; a frame FFmpeg cannot make is skipped.
// A stop kills the running programs and drops what arrives after it. onDone, when given, runs
// once on the main thread after the last frame was handed over or given up, stopped or not.
void loadFilmstrip(const QUrl& file, const std::optional<QString>& demuxer, double duration, int count,
                   std::stop_token stop,
                   std::function<void(int slot, const QImage& frame)> onFrame,
                   std::function<void()> onDone = {});

} // namespace qv
