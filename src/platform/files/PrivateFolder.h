#pragma once

#include <QString>
#include <QUrl>

namespace qv {

// A live folder "<prefix>-<uuid>" in the temporary root for work that outlives one item
// (received promises, office conversions). Purges leave it alone until it is removed.
class PrivateFolder {
public:
    PrivateFolder() = delete;

    // Throws SystemError.
    static QUrl make(const QString& prefix);
    // Removes it, and only when it lies in our temporary root.
    static void remove(const QUrl& folder);
    // Leaves it in place but no longer live: purges and Clean Up Now take it by its age, as
    // any other item of the root.
    static void release(const QUrl& folder);
};

} // namespace qv
