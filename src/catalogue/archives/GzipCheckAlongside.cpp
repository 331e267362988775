#include "catalogue/archives/GzipCheckAlongside.h"

#include "catalogue/archives/GzipCheck.h"

namespace qv {

GzipCheckAlongside::GzipCheckAlongside(const QString& path, std::stop_token stop)
    : m_forward(stop, [this] { m_source.request_stop(); })
{
    if (startsAsGzip(path))
        m_done = std::async(std::launch::async, [path, token = m_source.get_token()] { verifyGzipFile(path, token); });
}

GzipCheckAlongside::~GzipCheckAlongside()
{
    m_source.request_stop();
    if (m_done.valid())
        m_done.wait();
}

void GzipCheckAlongside::finish()
{
    if (m_done.valid())
        m_done.get();
}

} // namespace qv
