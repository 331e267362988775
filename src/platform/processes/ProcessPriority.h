#pragma once

namespace qv {

// The standing of a process beside what the user is doing.
class ProcessPriority {
public:
    ProcessPriority() = delete;

    // Background work: nice 10, the batch scheduling policy (no preempting the desktop on
    // waking) and the idle I/O class. Called first thing in main, so that every thread and
    // program started later inherits it; none of it can be raised again without privileges.
    // Returns whether all three held.
    static bool lowerForBackground();

    static constexpr int backgroundNice = 10;
};

} // namespace qv
