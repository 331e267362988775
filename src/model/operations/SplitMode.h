#pragma once

#include "model/EnumText.h"
#include "model/operations/PageRange.h"

#include <QList>

#include <variant>

namespace qv {

// How to split a PDF (by pages) or a media file (by time). One case with its payload.
class SplitMode {
public:
    enum class Kind { everyPage, everyNPages, ranges, parts, every, at };

    struct EveryPage {
        bool operator==(const EveryPage&) const = default;
    };
    struct EveryNPages {
        int pages = 1;
        bool operator==(const EveryNPages&) const = default;
    };
    struct Ranges {
        QList<PageRange> ranges;
        bool operator==(const Ranges&) const = default;
    };
    struct Parts {
        int count = 1;
        bool operator==(const Parts&) const = default;
    };
    struct Every {
        double seconds = 0.0;
        bool operator==(const Every&) const = default;
    };
    struct At {
        QList<double> times;
        bool operator==(const At&) const = default;
    };
    using Value = std::variant<EveryPage, EveryNPages, Ranges, Parts, Every, At>;

    SplitMode() = default; // every page
    // Implicit from any one payload, so a case reads as its payload.
    template <typename Payload>
        requires std::is_constructible_v<Value, Payload>
    SplitMode(Payload payload) : m_value(std::move(payload))
    {
    }

    static SplitMode everyPage() { return EveryPage{}; }
    static SplitMode everyNPages(int pages) { return EveryNPages{pages}; }
    static SplitMode ranges(QList<PageRange> ranges) { return Ranges{std::move(ranges)}; }
    static SplitMode parts(int count) { return Parts{count}; }
    static SplitMode every(double seconds) { return Every{seconds}; }
    static SplitMode at(QList<double> times) { return At{std::move(times)}; }

    Kind kind() const { return static_cast<Kind>(m_value.index()); }
    const Value& value() const { return m_value; }

    // The payload when the mode is of that case, else null.
    template <typename T>
    const T* get() const
    {
        return std::get_if<T>(&m_value);
    }

    bool operator==(const SplitMode&) const = default;

private:
    Value m_value;
};

template <>
struct EnumText<SplitMode::Kind> {
    static constexpr std::array names{"everyPage", "everyNPages", "ranges", "parts", "every", "at"};
};

static_assert(std::variant_size_v<SplitMode::Value> == EnumText<SplitMode::Kind>::names.size());

} // namespace qv
