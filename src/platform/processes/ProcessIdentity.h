#pragma once

#include <QByteArray>

namespace qv {

// What tells one process from a later one that got the same pid: this boot's id and the
// process's start time. Journals record both so that a stale entry is never taken for a live one.
class ProcessIdentity {
public:
    // The kernel's id of this boot; empty where /proc does not say.
    static const QByteArray& bootId();

    // When the process started, in clock ticks after boot ("self" for this one); empty when
    // there is no such process.
    static QByteArray startTime(const QByteArray& pid);
};

} // namespace qv
