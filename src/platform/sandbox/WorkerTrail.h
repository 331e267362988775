#pragma once

#include <QString>

#include <functional>

namespace qv {

// What this process leaves on disk while it works: work folders, copies in flight and placed
// results. A worker process passes each on to the application at once, so that whatever it
// left can be removed should it die before the end of its item. Process-wide; the observer is
// called on the thread that makes the item.
class WorkerTrail {
public:
    enum class Kind { work, placed };
    using Observer = std::function<void(Kind kind, const QString& path)>;

    static void setObserver(Observer observer);
    static void record(Kind kind, const QString& path);
};

} // namespace qv
