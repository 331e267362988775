#include "model/errors/Error.h"

namespace qv {

const char* Error::what() const noexcept
{
    if (m_what.isEmpty())
        m_what = localizedDescription().toUtf8();
    return m_what.constData();
}

} // namespace qv
