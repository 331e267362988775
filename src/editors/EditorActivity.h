#pragma once

namespace qv {

// How much editor work is under way in the background: openings, frames, waveforms, proxies.
// Lets a driver wait until an editor has settled. Main thread only.
class EditorActivity {
public:
    static void begin();
    static void end();
    static int count();
};

} // namespace qv
