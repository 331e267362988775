#pragma once

#include "model/errors/Error.h"

#include <memory>

namespace qv {

// An error reported by the system or a library: a domain, a code and a description, possibly
// caused by another one. Only the "POSIX" domain carries errno values of our own file layer.
class SystemError : public Error {
public:
    static inline const QString posixDomain = QStringLiteral("POSIX");

    SystemError(QString domain, int code, QString description,
                std::shared_ptr<const SystemError> underlying = nullptr);

    // An errno value from a file-system call; the description is the system's text for it,
    // after the context when one is given ("Cannot open x: No such file or directory").
    static SystemError fromErrno(int errnoValue, const QString& context = {});

    const QString& domain() const { return m_domain; }
    int code() const { return m_code; }
    const std::shared_ptr<const SystemError>& underlying() const { return m_underlying; }

    QString localizedDescription() const override { return m_description; }

private:
    QString m_domain;
    int m_code;
    QString m_description;
    std::shared_ptr<const SystemError> m_underlying;
};

} // namespace qv
