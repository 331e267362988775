#pragma once

#include <QImage>
#include <QString>

#include <stop_token>

namespace qv {

// The subject network (see ModelSubjectMasker) run by OpenCV's DNN module; the network is read
// once per process, on first use, and runs one picture at a time on at most `threads` threads.
class OnnxSubjectMasker {
public:
    OnnxSubjectMasker() = delete;

    static QImage subjectMask(const QImage& picture, const QString& modelPath, int threads,
                              const std::stop_token& stop);
};

} // namespace qv
