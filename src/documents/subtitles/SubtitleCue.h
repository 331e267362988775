#pragma once

#include <QList>
#include <QString>

namespace qv {

// One timed caption; line breaks inside it are "\n".
struct SubtitleCue {
    double start = 0; // seconds
    double end = 0;
    QString text;

    bool operator==(const SubtitleCue&) const = default;
};

// In the order of the raw values 0 to 5.
enum class SubtitleFormat { srt, vtt, ass, ssa, txt, unknown };

} // namespace qv
