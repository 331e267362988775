#pragma once

#include <QString>

#include <functional>
#include <future>
#include <stop_token>

namespace qv {

// Checks the CRC and length of every gzip member of a compressed archive (a .tar.gz) on a
// thread of its own, while libarchive, whose gzip reader skips them, unpacks it: damage that
// still inflates is caught without a second pass after the first. Does nothing for a file that
// is not gzip data.
class GzipCheckAlongside {
public:
    GzipCheckAlongside(const QString& path, std::stop_token stop);
    // Stops the check and waits for it.
    ~GzipCheckAlongside();
    GzipCheckAlongside(const GzipCheckAlongside&) = delete;
    GzipCheckAlongside& operator=(const GzipCheckAlongside&) = delete;

    // Waits for the check's end; throws ArchiveReadError for damage, SystemError,
    // CancellationError (GzipCheck's errors).
    void finish();

private:
    std::stop_source m_source;
    std::stop_callback<std::function<void()>> m_forward;
    std::future<void> m_done;
};

} // namespace qv
