#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace qv {

// The base of every error this program throws; its description is the sentence a user may see.
class Error : public std::exception {
public:
    virtual QString localizedDescription() const = 0;
    const char* what() const noexcept override;

private:
    mutable QByteArray m_what;
};

} // namespace qv
