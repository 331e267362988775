#pragma once

namespace qv {

// A closed range of whole numbers, both bounds included.
struct PageRange {
    int lower = 0;
    int upper = 0;

    bool contains(int value) const { return value >= lower && value <= upper; }
    bool operator==(const PageRange&) const = default;
};

} // namespace qv
