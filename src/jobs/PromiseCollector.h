#pragma once

#include <QList>
#include <QUrl>

#include <functional>
#include <mutex>
#include <optional>

namespace qv {

// Gathers the files of one promise drop and delivers them once: when the last expected file
// arrives, at the deadline, or never when abandoned.
class PromiseCollector {
public:
    using Completion = std::function<void(const QList<QUrl>&)>;

    PromiseCollector(int expected, Completion completion);

    // One reader callback, from any thread; nothing for a file that failed.
    void add(const std::optional<QUrl>& url);
    // The deadline: delivers what has arrived unless already delivered.
    void finish();
    // The user gave up: nothing is delivered any more. True when nothing had been delivered.
    bool abandon();

private:
    std::mutex m_lock;
    QList<QUrl> m_urls;
    int m_remaining;
    bool m_done = false;
    const Completion m_completion;
};

} // namespace qv
