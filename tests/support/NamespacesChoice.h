#pragma once

#include <QByteArray>

namespace qv::test {

// Workers started while it lives run in their own namespaces or, when off, without them
// (QUORVENDA_NO_NAMESPACES), as on a kernel that refuses them; the variable is put back after.
class NamespacesChoice {
public:
    explicit NamespacesChoice(bool on)
        : m_saved(qgetenv("QUORVENDA_NO_NAMESPACES"))
    {
        if (on)
            qunsetenv("QUORVENDA_NO_NAMESPACES");
        else
            qputenv("QUORVENDA_NO_NAMESPACES", "1");
    }
    ~NamespacesChoice()
    {
        if (m_saved.isNull())
            qunsetenv("QUORVENDA_NO_NAMESPACES");
        else
            qputenv("QUORVENDA_NO_NAMESPACES", m_saved);
    }
    NamespacesChoice(const NamespacesChoice&) = delete;
    NamespacesChoice& operator=(const NamespacesChoice&) = delete;

private:
    QByteArray m_saved;
};

} // namespace qv::test
