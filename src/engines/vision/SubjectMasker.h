#pragma once

#include <QImage>

#include <stop_token>

namespace qv {

// Finds the subjects of a picture. The mask it returns has the picture's size, in
// Format_Alpha8: 255 on a subject, 0 on the background, values in between along a soft edge.
// Implementations are stateless and may run on several threads at once; they throw
// CancellationError when the stop is requested and EngineError when they cannot work.
class SubjectMasker {
public:
    virtual ~SubjectMasker() = default;

    // The picture is opaque (callers flatten it first) and in Format_RGB32.
    virtual QImage subjectMask(const QImage& picture, const std::stop_token& stop) const = 0;
};

} // namespace qv
