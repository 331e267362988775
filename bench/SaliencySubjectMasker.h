#pragma once

#include "engines/vision/SubjectMasker.h"

namespace qv {

// Subjects as the parts of a picture that stand out: OpenCV's fine-grained static saliency,
// together with how far each colour lies from the picture's border, seeds GrabCut, and the
// cut is feathered for a soft edge. A heuristic, not a trained model: it works best on one
// subject in front of a plain or blurred background.
class SaliencySubjectMasker : public SubjectMasker {
public:
    QImage subjectMask(const QImage& picture, const std::stop_token& stop) const override;

    // Whether OpenCV's saliency module is there to use.
    static bool isUsable();

    // GrabCut runs on a copy whose longer side is at most this many pixels.
    static constexpr int workSide = 480;
};

} // namespace qv
