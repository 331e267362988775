#include "model/errors/SystemError.h"

#include <cstring>

namespace qv {

SystemError::SystemError(QString domain, int code, QString description,
                         std::shared_ptr<const SystemError> underlying)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_description(std::move(description))
    , m_underlying(std::move(underlying))
{
}

SystemError SystemError::fromErrno(int errnoValue, const QString& context)
{
    const QString text = QString::fromLocal8Bit(std::strerror(errnoValue));
    return SystemError(posixDomain, errnoValue,
                       context.isEmpty() ? text : context + QStringLiteral(": ") + text);
}

} // namespace qv
