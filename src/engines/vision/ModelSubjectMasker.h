#pragma once

#include "engines/vision/SubjectMasker.h"

#include <QString>

#include <optional>

namespace qv {

// Subjects as a trained segmentation network sees them: an ISNet model (converted to float32
// ONNX by scripts/fetch-subject-model.sh) run by OpenCV's DNN module in the vision module on a 1024 x 1024 copy of
// the picture; its mask is brought back to the picture's size along the picture's own edges.
// The network is read once per process, on first use, and runs one picture at a time.
class ModelSubjectMasker : public SubjectMasker {
public:
    QImage subjectMask(const QImage& picture, const std::stop_token& stop) const override;

    // The model file: $QUORVENDA_SUBJECT_MODEL, else share/quorvenda/subject-mask.onnx beside
    // or above the program's folder. None when it is not there.
    static std::optional<QString> modelPath();

    // Threads the network may use at most.
    static void setThreads(int threads);
    // What a picture starting now gets: that share, but never more than the cores the
    // machine's load leaves idle (its minute's average, or the threads runnable now, whichever
    // is more), and at least one.
    static int threadsNow();

    // The side of the square the network reads.
    static constexpr int netSide = 1024;
    // Edges are refined on a copy whose longer side is at most this many pixels.
    static constexpr int refineSide = 2048;
};

} // namespace qv
