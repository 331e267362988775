#pragma once

#include <QString>

#include <chrono>
#include <optional>

namespace qv {

class ChildProcess;

// Watches a worker's whole sandbox (every process in it, however started) while it serves a
// request: the resident memory and the processes of all of them together (with the memory
// files they hold open, mapped or not), and whether it moves at all. The limits of the kernel count each process alone; these count the sandbox.
class SandboxWatch {
public:
    struct Limits {
        qint64 residentBytes = 0; // 0: none
        int processes = 0;        // 0: none
        // The longest it may go without reporting progress (counted in the processor time it
        // got, so a busy machine does not pass for a hang, up to ten times as long in all), and
        // without progress or using processor time; zero: no limit.
        std::chrono::milliseconds quiet{0};
        std::chrono::milliseconds still{0};
        // The processor time the whole sandbox may use for the request, whatever progress it
        // reports: a decoder that spins while it reports progress is still ended. Zero: no limit.
        std::chrono::milliseconds work{0};
    };

    SandboxWatch(const ChildProcess& process, Limits limits);

    // Progress moved on.
    void progressed();
    // Looks at the sandbox now; a sentence for the details when a limit was passed.
    std::optional<QString> check();

    // The processor time the sandbox used since the watch began, and when it last used any,
    // as the last check() saw them.
    std::chrono::milliseconds processorTime() const;
    std::chrono::steady_clock::time_point movedAt() const { return m_movedAt; }

    // How often check() is worth calling.
    static constexpr std::chrono::milliseconds interval{500};

private:
    const ChildProcess& m_process;
    Limits m_limits;
    std::chrono::steady_clock::time_point m_progressAt;
    std::chrono::steady_clock::time_point m_movedAt;
    qint64 m_cpuTicks = -1;
    qint64 m_ticksSinceProgress = 0;
    qint64 m_ticksInAll = 0;
};

} // namespace qv
