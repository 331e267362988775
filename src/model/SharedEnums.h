#pragma once

#include "model/EnumText.h"

#include <QHashFunctions>

namespace qv {

// The three wheels; the name forms the "quorvenda.trigger.<kind>" and "quorvenda.wheel." keys.
enum class WheelKind { convert, tools, actions };

// The concurrency lanes of the job engine; external runs one item at a time.
enum class JobLane { cpu, video, audio, external };

// The office applications of the other desktop; kept so stored identifiers stay meaningful.
enum class IWorkApp { keynote, pages, numbers };

template <>
struct EnumText<WheelKind> {
    static constexpr std::array names{"convert", "tools", "actions"};
};
template <>
struct EnumText<JobLane> {
    static constexpr std::array names{"cpu", "video", "audio", "external"};
};
template <>
struct EnumText<IWorkApp> {
    static constexpr std::array names{"keynote", "pages", "numbers"};
};

// "com.apple.iWork." followed by the capitalised name.
QString bundleIdentifier(IWorkApp app);

inline size_t qHash(WheelKind v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }
inline size_t qHash(JobLane v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }
inline size_t qHash(IWorkApp v, size_t seed = 0) noexcept { return ::qHash(int(v), seed); }

} // namespace qv
