#pragma once
#include <memory>

namespace qv {

// A worker ends with its item: what the item built last need not be freed piece by piece
// while the application waits for the item's end (a thousand-page PDF's objects took a tenth
// of a turn's time). Such a process keeps the last structure handed over instead, and frees
// the one before it, so what it keeps stays one structure however many an item opens.
// Elsewhere a structure handed over is freed at once.
class LastRelease {
public:
    // From now on this process ends with the item it runs.
    static void endWithItem();
    // Frees the object now, or keeps it until the next one comes or the process ends.
    static void hand(std::shared_ptr<void> object);
};

} // namespace qv
