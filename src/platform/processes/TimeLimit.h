#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace qv {

// Runs fn with a stop token that is also requested when the time limit passes; timedOut tells
// which it was. The timer thread has ended by the time this returns.
template <typename Fn>
auto runWithTimeLimit(std::stop_token stop, std::chrono::seconds limit, bool& timedOut, Fn fn)
{
    std::stop_source source;
    const std::stop_callback forward(stop, [&] { source.request_stop(); });
    std::mutex mutex;
    std::condition_variable_any wake;
    std::jthread timer([&](std::stop_token done) {
        std::unique_lock lock(mutex);
        if (!wake.wait_for(lock, done, limit, [] { return false; }) && !done.stop_requested()) {
            timedOut = true;
            source.request_stop();
        }
    });
    struct StopTimer {
        std::jthread& t;
        ~StopTimer()
        {
            t.request_stop();
            t.join();
        }
    } stopTimer{timer};
    return fn(source.get_token());
}

} // namespace qv
