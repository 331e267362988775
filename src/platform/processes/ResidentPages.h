#pragma once

namespace qv {

// The tables at the head of the program's and each library's file (symbols, their names and
// hashes, relocations) that the dynamic linker read at start-up: a hundred libraries' worth,
// some 8 MB, that nothing else reads. A process at rest lets them go, as the kernel's own
// reclaim would: they stay in the page cache, and a page looked at again (a function called
// for the first time) comes back with a minor fault. Code and constants stay mapped.
class ResidentPages {
public:
    ResidentPages() = delete;

    // Unmaps them in every loaded object; false when some could not be.
    static bool releaseLinkingTables();
};

} // namespace qv
